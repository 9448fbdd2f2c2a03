#pragma once

#include <cstdint>

namespace platform {

// Why the application was activated. The values are the ones activation kinds are known by elsewhere.
enum class ActivationKind : int32_t {
    Launch = 0,
    Search = 1,
    ShareTarget = 2,
    File = 3,
    Protocol = 4,
};

// The arguments of one activation. Concrete arguments add interfaces (a protocol activation, a widget
// activation); a receiver asks for one with dynamic_cast, and an activation that lacks it does not have it.
class IActivatedEventArgs {
public:
    virtual ~IActivatedEventArgs() = default;
    virtual ActivationKind Kind() const = 0;
};

}  // namespace platform
