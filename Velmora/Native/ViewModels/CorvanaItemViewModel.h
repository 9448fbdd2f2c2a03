#pragma once

#include <QtQml/qqmlregistration.h>
#include <QString>
#include <QUrl>
#include <memory>

#include "Velmora/Native/Framework/ViewModelProperty.h"
#include "Velmora/Native/ViewModels/CorvanaViewItem.h"
#include "VelmoraUtils/DesktopAPIController.h"

namespace velmora {

// One tile of a feed row: a playlist, album, artist, show, episode, station or track that starts playback
// when clicked.
class CorvanaItemViewModel : public framework::ViewModelBase {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by the feed load.")
    Q_PROPERTY(QString Name READ Name CONSTANT)
    Q_PROPERTY(QUrl Image READ Image CONSTANT)
    Q_PROPERTY(QString ImageStyle READ ImageStyle CONSTANT)
    Q_PROPERTY(bool IsCircular READ IsCircular CONSTANT)
    VIEW_MODEL_PROPERTY(QString, Description)

public:
    static constexpr const char* kButtonStyle = "CorvanaItemButtonStyle";
    static constexpr const char* kCircleButtonStyle = "CorvanaItemCircleButtonStyle";

    // The controller may be null: the tile then plays nothing.
    static std::shared_ptr<CorvanaItemViewModel> Create(
        const CorvanaViewItem& item, std::shared_ptr<utils::DesktopAPIController> controller);

    QString Name() const { return name_; }
    // The cover's URL; empty when the item has none or its URL does not parse.
    QUrl Image() const { return image_; }
    QString ImageStyle() const { return IsCircular() ? kCircleButtonStyle : kButtonStyle; }
    bool IsCircular() const { return kind_ == CorvanaViewItemKind::Artist; }

    // Asks the desktop app to play the item's context and returns at once; never fails outward.
    Q_INVOKABLE void PlayAsync();

private:
    CorvanaItemViewModel(const CorvanaViewItem& item,
                         std::shared_ptr<utils::DesktopAPIController> controller);

    QString name_;
    QUrl image_;
    std::string uri_;
    CorvanaViewItemKind kind_;
    std::shared_ptr<utils::DesktopAPIController> controller_;
};

}  // namespace velmora
