#include "Velmora/Native/ViewModels/CorvanaItemViewModel.h"

#include "Platform/Foundation/PlatformError.h"
#include "Velmora/Native/Framework/FailureReport.h"
#include "Velmora/Native/ViewModels/CoverImage.h"

namespace velmora {

std::shared_ptr<CorvanaItemViewModel> CorvanaItemViewModel::Create(
    const CorvanaViewItem& item, std::shared_ptr<utils::DesktopAPIController> controller) {
    return Adopt(new CorvanaItemViewModel(item, std::move(controller)));
}

CorvanaItemViewModel::CorvanaItemViewModel(const CorvanaViewItem& item,
                                           std::shared_ptr<utils::DesktopAPIController> controller)
    : Description_(QString::fromStdString(item.Description)),
      name_(QString::fromStdString(item.Name)),
      uri_(item.Uri),
      kind_(item.Kind),
      controller_(std::move(controller)) {
    if (item.ImageUrl.empty()) return;
    // One item's bad cover URL costs that tile its picture, not the whole feed.
    try {
        image_ = CoverImage::ParseUrl(item.ImageUrl);
    } catch (...) {
        framework::ReportFailure("CorvanaItemViewModel::CorvanaItemViewModel", std::current_exception());
    }
}

void CorvanaItemViewModel::PlayAsync() {
    auto self = SharedFrom(this);
    if (!controller_) return;
    try {
        controller_->ModifyPlaybackState(utils::PlaybackAction::Play, uri_);
    } catch (...) {
        framework::ReportFailure("CorvanaItemViewModel::PlayAsync", std::current_exception());
    }
}

}  // namespace velmora
