#pragma once

namespace velmora {

// The runtime type names the frame navigates by; each front end registers its page under one of them.
inline constexpr const char* kNativePageType = "Velmora.CorvanaWidgetNative";
inline constexpr const char* kWebViewPageType = "Velmora.CorvanaWidgetWebview";

}  // namespace velmora
