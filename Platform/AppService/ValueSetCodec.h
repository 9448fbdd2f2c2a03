#pragma once

// Private to Platform/AppService: ValueSets read from and written to D-Bus messages as a{sv}.

#include <cstddef>
#include <limits>

#include "Platform/Foundation/ValueSet.h"

namespace sdbus {
class Message;
}

namespace platform::detail {

// Values go straight between the message and the ValueSet: an sdbus::Variant per value would cost a
// message of its own each, and must never leave the bus thread anyway. Bus thread only.
class ValueSetCodec {
public:
    struct Limits {
        size_t maxBytes = std::numeric_limits<size_t>::max();
        size_t maxValues = std::numeric_limits<size_t>::max();
    };

    // Reads the a{sv} at the message's read position. Throws E_NOINTERFACE for a type a ValueSet cannot
    // carry, and E_INVALIDARG as soon as the values read pass a limit (counting about the bytes they take
    // on the wire, and every value, nested sets and array elements included), so that an oversized
    // message is refused before it is ever held whole.
    static ValueSet Read(sdbus::Message& message, Limits limits);
    static ValueSet Read(sdbus::Message& message);
    static void Write(sdbus::Message& message, const ValueSet& set);
};

}  // namespace platform::detail
