#pragma once

#include <string>
#include <vector>

#include "Velmora/Native/ViewModels/CorvanaViewItem.h"

namespace velmora {

// One row of the home feed: its title and its items in feed order.
struct CorvanaViewCategory {
    std::string Name;
    std::vector<CorvanaViewItem> Items;
};

}  // namespace velmora
