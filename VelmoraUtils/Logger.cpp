#include "VelmoraUtils/Logger.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

namespace utils {

namespace fs = std::filesystem;

namespace {

constexpr size_t kSessionsKept = 10;
constexpr int kNameAttempts = 99;

// Local wall-clock time, truncated to whole seconds.
std::string Now(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    size_t length = std::strftime(text, sizeof text, format, &local);
    return std::string(text, length);
}

void WriteDebugOutput(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

bool IsSessionFileName(const std::string& name) {
    return name.size() > 4 && name.starts_with("logs_") && name.ends_with(".log");
}

}  // namespace

Logger& Logger::Instance() {
    // Kept to the very end of the process, so that a line logged by background work during exit never
    // reaches a destroyed logger. Every line is flushed as it is written, so nothing waits for a close.
    static Logger* logger = new Logger();
    return *logger;
}

Logger::~Logger() {
    if (file_ >= 0) ::close(file_);
}

void Logger::Initialize(std::string_view baseFolderPath) {
    std::lock_guard guard(lock_);
    if (file_ >= 0) return;

    fs::path directory = fs::path(baseFolderPath) / "Corvana" / "XboxGameBar";
    std::error_code error;
    fs::create_directories(directory, error);
    if (error) {
        WriteDebugOutput("Logger: failed to create log directory\n");
        return;
    }

    // Another process may open its session within the same second: never take over its file, take the
    // next free name instead ("_02" and on sort after the plain name, so the order stays chronological).
    // The file holds what the user listened to, so only the user may read it.
    const std::string stamp = Now("%Y-%m-%d_%H%M%S");
    fs::path path;
    for (int attempt = 1; attempt <= kNameAttempts && file_ < 0; ++attempt) {
        char suffix[8] = "";
        if (attempt > 1) std::snprintf(suffix, sizeof suffix, "_%02d", attempt);
        path = directory / ("logs_" + stamp + suffix + ".log");
        file_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (file_ < 0 && errno != EEXIST) break;
    }
    if (file_ < 0) {
        WriteDebugOutput("Logger: failed to open log file\n");
        return;
    }
    fileFailed_ = false;
    filePath_ = path.string();

    PruneOldSessions(directory.string());

    WriteToFile("\n--- Session started " + Now("%Y-%m-%d %H:%M:%S") + " ---\n\n");
}

void Logger::PruneOldSessions(const std::string& directory) {
    std::vector<fs::path> candidates;
    std::error_code error;
    fs::directory_iterator entries(directory, error);
    // A listing that breaks off part way would make older files look like the newest: delete nothing then.
    for (fs::directory_iterator end; !error && entries != end; entries.increment(error)) {
        std::error_code typeError;
        if (!entries->is_regular_file(typeError)) continue;
        if (IsSessionFileName(entries->path().filename().string())) candidates.push_back(entries->path());
    }
    if (error) {
        WriteDebugOutput("Logger: failed to iterate log directory\n");
        return;
    }
    // The names carry the opening time to the second, so descending name order is newest first.
    std::sort(candidates.begin(), candidates.end(), std::greater<>());
    for (size_t i = kSessionsKept; i < candidates.size(); ++i) {
        std::error_code removeError;
        if (!fs::remove(candidates[i], removeError) || removeError) {
            WriteDebugOutput("Logger: failed to delete old log file\n");
        }
    }
}

// Under lock_. One write per line, so that a line is never split even across processes.
void Logger::WriteToFile(const std::string& text) {
    if (file_ < 0 || fileFailed_) return;
    size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(file_, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fileFailed_ = true;
            return;
        }
        written += static_cast<size_t>(n);
    }
}

void Logger::Log(std::string_view level, std::string_view message) {
    std::string debugLine(message);
    debugLine += '\n';
    WriteDebugOutput(debugLine);

    {
        std::lock_guard guard(lock_);
        if (file_ >= 0 && !fileFailed_) {
            std::string line = "[" + Now("%Y-%m-%d %H:%M:%S") + "] [";
            line.append(level).append("] : ").append(message).append("\n");
            WriteToFile(line);
        }
    }

    std::shared_lock guard(listenersLock_);
    for (const auto& [token, listener] : listeners_) listener(level, message);
}

uint64_t Logger::AddListener(Listener listener) {
    std::unique_lock guard(listenersLock_);
    uint64_t token = nextListener_++;
    listeners_.emplace(token, std::move(listener));
    return token;
}

void Logger::RemoveListener(uint64_t token) {
    std::unique_lock guard(listenersLock_);
    listeners_.erase(token);
}

bool Logger::IsFileOpen() {
    std::lock_guard guard(lock_);
    return file_ >= 0;
}

std::string Logger::FilePath() {
    std::lock_guard guard(lock_);
    return filePath_;
}

}  // namespace utils
