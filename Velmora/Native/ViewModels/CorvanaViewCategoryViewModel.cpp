#include "Velmora/Native/ViewModels/CorvanaViewCategoryViewModel.h"

#include "Velmora/Native/ViewModels/CorvanaItemViewModel.h"

namespace velmora {

std::shared_ptr<CorvanaViewCategoryViewModel> CorvanaViewCategoryViewModel::Create(
    const CorvanaViewCategory& category, std::shared_ptr<utils::DesktopAPIController> controller) {
    return Adopt(new CorvanaViewCategoryViewModel(category, controller));
}

CorvanaViewCategoryViewModel::CorvanaViewCategoryViewModel(
    const CorvanaViewCategory& category, const std::shared_ptr<utils::DesktopAPIController>& controller)
    : Items_(ObservableVector::Create()), name_(QString::fromStdString(category.Name)) {
    for (const auto& item : category.Items) Items_->Append(CorvanaItemViewModel::Create(item, controller));
}

}  // namespace velmora
