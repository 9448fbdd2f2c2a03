#pragma once

#include <memory>

#include "Platform/Ui/ProtocolActivatedEventArgs.h"

namespace platform {

class GameBarHostControls;

// The activation the Game Bar makes for a widget URI ("ms-gamebarwidget:..."): a protocol activation that
// also says whether it opens the widget window (a launch) or reaches one already open (a re-activation),
// and carries the host's controls that the widget object follows.
class GameBarWidgetActivatedEventArgs final : public ProtocolActivatedEventArgs {
public:
    GameBarWidgetActivatedEventArgs(std::string uri, std::string schemeName, bool isLaunchActivation,
                                    std::shared_ptr<GameBarHostControls> host);

    bool IsLaunchActivation() const { return isLaunchActivation_; }
    const std::shared_ptr<GameBarHostControls>& Host() const { return host_; }

private:
    bool isLaunchActivation_;
    std::shared_ptr<GameBarHostControls> host_;
};

}  // namespace platform
