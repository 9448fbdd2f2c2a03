// The mode check: the mode file as anything outside the app may have written it (or made in its
// place: a folder, a link, a pipe). What must hold: the answer is "web view" exactly when the file is a
// regular file whose first line (a carriage return before its line feed dropped) is "web_view"; nothing
// throws, nothing blocks, and no descriptor is left open.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Velmora/ModeCheck.h"
#include "fuzz/FuzzSupport.h"

namespace {

const std::string& Folder() {
    return fuzz::ScratchFolder("mode");
}

bool Expected(std::string_view contents) {
    std::string_view line = contents.substr(0, contents.find('\n'));
    if (line.ends_with('\r') && contents.size() > line.size()) line.remove_suffix(1);
    return line == "web_view";
}

int OpenDescriptors() {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string path = Folder() + "/widget_mode.txt";
    std::filesystem::remove_all(path);
    std::string_view contents(reinterpret_cast<const char*>(data) + 1, size - 1);
    const uint8_t shape = data[0];
    bool expected = false;
    if (shape < 200) {
        std::ofstream(path, std::ios::binary)
            .write(contents.data(), static_cast<std::streamsize>(contents.size()));
        expected = Expected(contents);
    } else if (shape < 215) {
        std::filesystem::create_directory(path);
    } else if (shape < 230) {
        std::filesystem::create_symlink(Folder() + "/nowhere", path);
    } else if (shape < 245) {
        // A link to a regular file is read as that file.
        const std::string target = Folder() + "/target.txt";
        std::ofstream(target, std::ios::binary)
            .write(contents.data(), static_cast<std::streamsize>(contents.size()));
        std::filesystem::create_symlink(target, path);
        expected = Expected(contents);
    } else {
        // A pipe nobody writes to: reading it would block for ever.
        ::mkfifo(path.c_str(), 0600);
    }
    const int before = OpenDescriptors();
    bool answer = false;
    try {
        answer = velmora::IsWebViewModeFile(path);
    } catch (const std::exception& error) {
        fuzz::Fail("nothing escapes IsWebViewModeFile", error.what());
    }
    FUZZ_CHECK(OpenDescriptors() == before, "a descriptor left open");
    FUZZ_CHECK(answer == expected, std::string("answered ") + (answer ? "web view" : "native") +
                                       " for shape " + std::to_string(shape) + " and " +
                                       std::to_string(contents.size()) + " bytes");
    return 0;
}
