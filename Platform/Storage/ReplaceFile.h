#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>

namespace platform {

// Makes `contents` the whole of the file at `path` so that a crash or a power cut at any moment leaves
// either the old file or the new one, never a part of either: the text goes into `path`.tmp beside it
// (created with `mode` less the umask), reaches the disk (fsync), is renamed over `path`, and the folder is
// flushed so that the rename itself survives. A temporary left by an earlier crash is simply written anew.
// When `keepReplacedAs` is given, the file being replaced is first renamed to it (only once the new text
// is safely written). On failure the old file is left as it was, the temporary is removed and the reason
// is returned; on success the result is empty.
std::string ReplaceFile(const std::string& path, std::string_view contents, mode_t mode,
                        const std::string& keepReplacedAs = {});

}  // namespace platform
