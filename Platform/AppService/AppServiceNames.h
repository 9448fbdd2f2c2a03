#pragma once

// Private to Platform/AppService: the bus names both ends of an app service agree on.

#include <algorithm>
#include <string>

namespace platform::detail {

// "corvana.partnerApi" serves "corvana.partnerApi.AppService" at "/corvana/partnerApi"; its clients export
// "corvana.partnerApi.Client".
struct AppServiceNames {
    std::string service;
    std::string path;
    std::string serviceInterface;
    std::string clientInterface;

    static AppServiceNames For(const std::string& service) {
        std::string path = "/" + service;
        std::replace(path.begin(), path.end(), '.', '/');
        return {service, path, service + ".AppService", service + ".Client"};
    }
};

}  // namespace platform::detail
