#pragma once

#include <exception>
#include <string>

namespace platform {

// A page type as the frame knows it: its runtime type name ("Velmora.CorvanaWidgetNative").
struct TypeName {
    std::string Name;
};

// Why a navigation failed: the page type asked for and the error its creation raised.
class NavigationFailedEventArgs {
public:
    NavigationFailedEventArgs(TypeName sourcePageType, std::exception_ptr exception)
        : sourcePageType_(std::move(sourcePageType)), exception_(std::move(exception)) {}

    const TypeName& SourcePageType() const { return sourcePageType_; }
    const std::exception_ptr& Exception() const { return exception_; }

private:
    TypeName sourcePageType_;
    std::exception_ptr exception_;
};

}  // namespace platform
