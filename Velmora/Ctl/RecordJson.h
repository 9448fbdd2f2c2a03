#pragma once

#include <nlohmann/json.hpp>

#include "VelmoraUtils/CorvanaClient.h"
#include "VelmoraUtils/DesktopApiTypes.h"

namespace velmora {

// The desktop records as JSON, with the wire key names, for the command line and scripts.
nlohmann::json ToJson(const desktop_api_types::PlaybackStateResponse& state);
nlohmann::json ToJson(const desktop_api_types::ConnectClusterResponse& cluster);
nlohmann::json ToJson(const desktop_api_types::ConnectActiveDeviceResponse& device);
nlohmann::json ToJson(const desktop_api_types::ConnectionStateResponse& state);
nlohmann::json ToJson(const desktop_api_types::LoginStateResponse& state);
nlohmann::json ToJson(const std::vector<utils::corvana_client::HomeSection>& sections);

// One line of text; invalid UTF-8 from the desktop app is replaced rather than thrown on.
std::string Dump(const nlohmann::json& value);

}  // namespace velmora
