#include "Velmora/FrontEndLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "Platform/Foundation/PlatformError.h"

#ifndef VELMORA_MODULE_DIR_FROM_BIN
#define VELMORA_MODULE_DIR_FROM_BIN "../lib/velmora"
#endif

namespace velmora {

std::vector<std::string> FrontEndModuleFolders() {
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    auto folder = executable.parent_path();
    return {folder.string(), (folder / VELMORA_MODULE_DIR_FROM_BIN).lexically_normal().string()};
}

std::optional<FrontEnd> LoadFrontEndModule(const FrontEndModule& module,
                                           const std::vector<std::string>& folders) {
    std::string path;
    for (const auto& folder : folders) {
        std::string candidate = folder + "/" + module.fileName;
        if (::access(candidate.c_str(), R_OK) == 0) {
            path = candidate;
            break;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "velmora: the front-end module %s is not installed\n", module.fileName.c_str());
        return std::nullopt;
    }
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "velmora: cannot load %s: %s\n", path.c_str(), ::dlerror());
        return std::nullopt;
    }
    auto entry = reinterpret_cast<FrontEndModuleEntry>(::dlsym(handle, kFrontEndModuleEntry));
    if (!entry) {
        std::fprintf(stderr, "velmora: %s has no %s\n", path.c_str(), kFrontEndModuleEntry);
        return std::nullopt;
    }
    FrontEnd frontEnd;
    try {
        entry(frontEnd);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora: %s failed to start: %s\n", path.c_str(), e.what());
        return std::nullopt;
    }
    if (frontEnd.typeName != module.typeName || !frontEnd.createPage) {
        std::fprintf(stderr, "velmora: %s does not offer the page %s\n", path.c_str(),
                     module.typeName.c_str());
        return std::nullopt;
    }
    return frontEnd;
}

platform::PageFactory LoadingFrontEndModule(FrontEndModule module) {
    auto loaded = std::make_shared<std::optional<FrontEnd>>();
    return [module = std::move(module), loaded](const platform::PageContext& context) {
        if (!*loaded) {
            auto frontEnd = LoadFrontEndModule(module, FrontEndModuleFolders());
            if (!frontEnd) {
                throw platform::PlatformError(platform::E_FAIL,
                                              "the front-end module " + module.fileName + " did not load");
            }
            if (frontEnd->beforeApplication) frontEnd->beforeApplication();
            *loaded = std::move(frontEnd);
        }
        return (**loaded).createPage(context);
    };
}

}  // namespace velmora
