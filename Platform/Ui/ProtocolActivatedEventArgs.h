#pragma once

#include <optional>
#include <string>

#include "Platform/Ui/IActivatedEventArgs.h"

namespace platform {

// An activation through a URI whose scheme the application handles.
class ProtocolActivatedEventArgs : public IActivatedEventArgs {
public:
    // The URI as given and its scheme, which URIs compare case-insensitively and which is therefore kept
    // in lower case, as URI parsers hand it out.
    ProtocolActivatedEventArgs(std::string uri, std::string schemeName);

    // Null when the text is not an absolute URI (no scheme, a malformed one, or not parseable).
    static std::optional<ProtocolActivatedEventArgs> FromUri(const std::string& uri);
    // The scheme of an absolute URI in lower case, or nothing.
    static std::optional<std::string> SchemeOf(const std::string& uri);

    ActivationKind Kind() const override { return ActivationKind::Protocol; }
    const std::string& Uri() const { return uri_; }
    const std::string& SchemeName() const { return schemeName_; }

private:
    std::string uri_;
    std::string schemeName_;
};

}  // namespace platform
