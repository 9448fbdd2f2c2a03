#pragma once

#include <string>

namespace velmora {

// The mode file: LocalFolder/Corvana/Gamebar/widget_mode.txt, placed there from outside, never written by
// the app.
std::string ModeFilePath();

// Whether the file at `path` selects the web-view front end: its first line (up to the first line feed,
// a carriage return right before it dropped) is exactly "web_view". Reads at most the few bytes such a
// line can have, and only from a regular file; anything else (no file, a directory, a dangling link, a
// pipe, an unreadable file, a longer or different first line) answers no.
bool IsWebViewModeFile(const std::string& path);

// The mode check: the page type of the front end the mode file selects; the native one on any failure.
const char* ChosenPageType();

}  // namespace velmora
