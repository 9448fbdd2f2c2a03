#include "Velmora/Native/ViewModels/CorvanaViewItem.h"

#include "VelmoraUtils/Utf8Text.h"

namespace velmora {

CorvanaViewItemKind KindFromType(std::string_view type) {
    if (type == "artist") return CorvanaViewItemKind::Artist;
    if (type == "album") return CorvanaViewItemKind::Album;
    if (type == "playlist") return CorvanaViewItemKind::Playlist;
    if (type == "track") return CorvanaViewItemKind::Track;
    if (type == "episode") return CorvanaViewItemKind::Episode;
    if (type == "show") return CorvanaViewItemKind::Show;
    if (type == "station") return CorvanaViewItemKind::Station;
    return CorvanaViewItemKind::Unknown;
}

CorvanaViewItem MakeViewItem(const utils::corvana_client::HomeItem& item) {
    CorvanaViewItem view;
    view.Name = item.name;
    view.Uri = item.uri;
    if (!item.images.empty()) {
        view.ImageUrl = item.images.front();
    } else if (!item.albumImages.empty()) {
        view.ImageUrl = item.albumImages.front();
    }
    if (!item.artists.empty()) {
        for (size_t i = 0; i < item.artists.size(); ++i) {
            if (i > 0) view.Description += ", ";
            view.Description += item.artists[i];
        }
    } else if (item.showName) {
        view.Description = *item.showName;
    } else if (item.ownerDisplayName) {
        view.Description = *item.ownerDisplayName;
    } else if (item.description) {
        view.Description = *item.description;
    }
    view.Name = ShownText(view.Name);
    view.Description = ShownText(view.Description);
    view.Kind = KindFromType(item.type);
    return view;
}

std::string ShownText(std::string_view text) {
    return std::string(utils::Utf8Text::Prefix(text, kShownTextCodePoints));
}

}  // namespace velmora
