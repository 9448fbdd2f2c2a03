#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Ui/Page.h"

namespace platform {

// The page factories a frame navigates by, under their runtime type names ("Velmora.CorvanaWidgetNative").
// Filled before the event loop starts and only read afterwards.
class PageRegistry {
public:
    // False (and the earlier factory kept) when the name is taken or the factory is empty.
    bool Register(std::string typeName, PageFactory factory);
    // An empty factory when the name is unknown.
    PageFactory Find(std::string_view typeName) const;
    std::vector<std::string> TypeNames() const;

private:
    std::map<std::string, PageFactory, std::less<>> factories_;
};

}  // namespace platform
