#pragma once

namespace platform {

// The packaged page's origin, for code without Qt (the bridge builds addresses on it); WebContentOrigin
// takes its constant from here, so the two cannot disagree.
inline constexpr const char* kWebContentOrigin = "velmora-app://widget.invalid";

}  // namespace platform
