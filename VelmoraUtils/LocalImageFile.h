#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace utils {

// A local cover read from disk: a picture, judged by its content and never by its name. Whatever a
// player names is refused unless it is a regular, non-empty file of at most the cap whose bytes begin as
// a PNG, JPEG, GIF or WebP picture does: directories, FIFOs and devices are refused before anything is
// read (a FIFO without a writer would hold the reader for ever), and kernel files (/proc, which report a
// size of 0, or /sys, which are no pictures) come to nothing. Blocks only for the read of the file itself.
struct LocalImage {
    std::string bytes;
    std::string mimeType;
};

class LocalImageFile {
public:
    // A cover is a few hundred kilobytes at most.
    static constexpr size_t kMaximumBytes = 8 * 1024 * 1024;

    // The picture at `path`, or none with the reason in `why` (when given).
    static std::optional<LocalImage> Read(const std::string& path, size_t maxBytes = kMaximumBytes,
                                          std::string* why = nullptr);
    // The MIME type of the picture `bytes` begin with; empty when they begin no picture we show.
    static std::string ImageTypeOf(std::string_view bytes);
};

}  // namespace utils
