#pragma once

#include <QtQml/qqmlregistration.h>
#include <QString>
#include <memory>

#include "Velmora/Native/Framework/ViewModelProperty.h"
#include "Velmora/Native/ViewModels/CorvanaViewCategory.h"
#include "Velmora/Native/ViewModels/ObservableVector.h"
#include "VelmoraUtils/DesktopAPIController.h"

namespace velmora {

// One titled row of the home feed; its Items are CorvanaItemViewModels in feed order.
class CorvanaViewCategoryViewModel : public framework::ViewModelBase {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by the feed load.")
    Q_PROPERTY(QString Name READ Name CONSTANT)
    VIEW_MODEL_OBJECT_PROPERTY(velmora::ObservableVector, Items)

public:
    static std::shared_ptr<CorvanaViewCategoryViewModel> Create(
        const CorvanaViewCategory& category, std::shared_ptr<utils::DesktopAPIController> controller);

    QString Name() const { return name_; }

private:
    CorvanaViewCategoryViewModel(const CorvanaViewCategory& category,
                                 const std::shared_ptr<utils::DesktopAPIController>& controller);

    QString name_;
};

}  // namespace velmora
