#include "Platform/GameBar/GameBarWidgetActivatedEventArgs.h"

#include "Platform/GameBar/GameBarHostControls.h"

namespace platform {

GameBarWidgetActivatedEventArgs::GameBarWidgetActivatedEventArgs(std::string uri, std::string schemeName,
                                                                 bool isLaunchActivation,
                                                                 std::shared_ptr<GameBarHostControls> host)
    : ProtocolActivatedEventArgs(std::move(uri), std::move(schemeName)),
      isLaunchActivation_(isLaunchActivation),
      host_(host ? std::move(host) : std::make_shared<GameBarHostControls>()) {}

}  // namespace platform
