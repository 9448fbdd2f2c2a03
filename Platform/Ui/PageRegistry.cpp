#include "Platform/Ui/PageRegistry.h"

namespace platform {

bool PageRegistry::Register(std::string typeName, PageFactory factory) {
    if (!factory) return false;
    return factories_.emplace(std::move(typeName), std::move(factory)).second;
}

PageFactory PageRegistry::Find(std::string_view typeName) const {
    auto found = factories_.find(typeName);
    return found == factories_.end() ? PageFactory() : found->second;
}

std::vector<std::string> PageRegistry::TypeNames() const {
    std::vector<std::string> names;
    for (const auto& entry : factories_) names.push_back(entry.first);
    return names;
}

}  // namespace platform
