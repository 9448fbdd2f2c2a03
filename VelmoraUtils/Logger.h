#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>

namespace utils {

// The process-wide diagnostic sink. Every message goes to standard error; once Initialize has opened the
// session file, each message is also appended to it as one time-stamped, flushed line.
class Logger {
public:
    // Sees every message, for consumers inside the process (tests, a verbose command line). A listener
    // must not log itself.
    using Listener = std::function<void(std::string_view level, std::string_view message)>;

    Logger() = default;
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    static Logger& Instance();

    // Opens the session file under baseFolderPath/Corvana/XboxGameBar unless a file is open already.
    void Initialize(std::string_view baseFolderPath);
    void Log(std::string_view level, std::string_view message);
    void LogInfo(std::string_view message) { Log("INFO", message); }
    void LogError(std::string_view message) { Log("ERROR", message); }

    uint64_t AddListener(Listener listener);
    void RemoveListener(uint64_t token);

    bool IsFileOpen();
    std::string FilePath();

private:
    void PruneOldSessions(const std::string& directory);
    void WriteToFile(const std::string& text);

    std::mutex lock_;
    int file_ = -1;
    // A write that failed leaves the file failed for the rest of the session.
    bool fileFailed_ = false;
    std::string filePath_;

    // Held shared while listeners run, so that RemoveListener returns only once no call is in flight.
    std::shared_mutex listenersLock_;
    std::map<uint64_t, Listener> listeners_;
    uint64_t nextListener_ = 1;
};

}  // namespace utils
