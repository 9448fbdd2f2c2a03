#include "Velmora/Native/Framework/ResourceHelper.h"

#include <memory>
#include <mutex>

#include "Platform/Foundation/PlatformError.h"
#include "Velmora/Native/Framework/FailureReport.h"
#include "Velmora/Native/Framework/ResourceLoader.h"

namespace framework {

namespace {

struct Loader {
    std::mutex mutex;
    std::shared_ptr<const ResourceLoader> packaged;
    std::shared_ptr<const ResourceLoader> injected;

    std::shared_ptr<const ResourceLoader> Current() {
        std::lock_guard lock(mutex);
        if (injected) return injected;
        if (!packaged) packaged = std::make_shared<const ResourceLoader>(ResourceLoader::ForCurrentLocale());
        return packaged;
    }
};

Loader& TheLoader() {
    static Loader loader;
    return loader;
}

}  // namespace

QString ResourceHelper::GetString(std::string_view key) {
    if (auto text = TheLoader().Current()->GetString(key)) return QString::fromStdString(*text);
    auto error = std::make_exception_ptr(
        platform::PlatformError(platform::E_POINTER, "no resource string " + std::string(key)));
    ReportFailure("ResourceHelper::GetString", error);
    std::rethrow_exception(error);
}

void ResourceHelper::UseTable(std::map<std::string, std::string, std::less<>> table) {
    auto& loader = TheLoader();
    std::lock_guard lock(loader.mutex);
    loader.injected = table.empty() ? nullptr : std::make_shared<const ResourceLoader>(std::move(table));
}

}  // namespace framework
