#include "VelmoraUtils/Logger.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

namespace utils {

namespace fs = std::filesystem;

namespace {

constexpr size_t kSessionsKept = 10;

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

void Logger::Initialize(std::string_view baseFolderPath) {
    std::lock_guard guard(lock_);
    if (file_.is_open()) return;

    fs::path directory = fs::path(baseFolderPath) / "Corvana" / "XboxGameBar";
    std::error_code error;
    fs::create_directories(directory, error);
    if (error) {
        WriteDebugOutput("Logger: failed to create log directory\n");
        return;
    }

    fs::path path = directory / ("logs_" + Now("%Y-%m-%d_%H%M%S") + ".log");
    // The file is UTF-8, so any message is written whole and the stream never fails on a character.
    file_.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!file_.is_open()) {
        WriteDebugOutput("Logger: failed to open log file\n");
        return;
    }
    filePath_ = path.string();

    PruneOldSessions(directory.string());

    file_ << "\n--- Session started " << Now("%Y-%m-%d %H:%M:%S") << " ---\n\n";
    file_.flush();
}

void Logger::PruneOldSessions(const std::string& directory) {
    std::vector<fs::path> candidates;
    std::error_code error;
    fs::directory_iterator entries(directory, error);
    if (error) {
        WriteDebugOutput("Logger: failed to iterate log directory\n");
        return;
    }
    for (const auto& entry : entries) {
        std::error_code typeError;
        if (!entry.is_regular_file(typeError)) continue;
        if (IsSessionFileName(entry.path().filename().string())) candidates.push_back(entry.path());
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

void Logger::Log(std::string_view level, std::string_view message) {
    std::string debugLine(message);
    debugLine += '\n';
    WriteDebugOutput(debugLine);

    {
        std::lock_guard guard(lock_);
        if (file_.is_open() && file_.good()) {
            file_ << '[' << Now("%Y-%m-%d %H:%M:%S") << "] [" << level << "] : " << message << '\n';
            file_.flush();
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
    return file_.is_open();
}

std::string Logger::FilePath() {
    std::lock_guard guard(lock_);
    return filePath_;
}

}  // namespace utils
