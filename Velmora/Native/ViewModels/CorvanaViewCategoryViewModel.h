#pragma once

#include <QString>
#include <memory>

#include "Velmora/Native/Framework/ViewModelBase.h"
#include "Velmora/Native/ViewModels/CorvanaViewCategory.h"
#include "Velmora/Native/ViewModels/ObservableVector.h"
#include "VelmoraUtils/DesktopAPIController.h"

namespace velmora {

// One titled row of the home feed; its Items are CorvanaItemViewModels in feed order.
class CorvanaViewCategoryViewModel : public framework::ViewModelBase {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name CONSTANT)
    Q_PROPERTY(velmora::ObservableVector* Items READ ItemsModel NOTIFY itemsChanged)

public:
    static std::shared_ptr<CorvanaViewCategoryViewModel> Create(
        const CorvanaViewCategory& category, std::shared_ptr<utils::DesktopAPIController> controller);

    QString Name() const { return name_; }
    const std::shared_ptr<ObservableVector>& Items() const { return items_; }
    ObservableVector* ItemsModel() const { return items_.get(); }
    void SetItems(std::shared_ptr<ObservableVector> items) { SetProperty(items_, std::move(items), "Items"); }

signals:
    void itemsChanged();

private:
    CorvanaViewCategoryViewModel(const CorvanaViewCategory& category,
                                 const std::shared_ptr<utils::DesktopAPIController>& controller);

    QString name_;
    std::shared_ptr<ObservableVector> items_;
};

}  // namespace velmora
