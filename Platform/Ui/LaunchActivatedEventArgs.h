#pragma once

#include "Platform/Ui/IActivatedEventArgs.h"

namespace platform {

// A plain start of the application, with no URI.
class LaunchActivatedEventArgs final : public IActivatedEventArgs {
public:
    ActivationKind Kind() const override { return ActivationKind::Launch; }
};

}  // namespace platform
