#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// How much the web page can make the native side do. The page sends only what a player's presses call
// for, a few a second; anything far beyond that (a page gone wrong, or turned against the widget) must not
// become a flood at the desktop app, the URI launcher or the log. Each kind of command has a budget of
// its own, a bucket that holds a second's worth and refills evenly; and ERROR lines about the page's
// traffic are written at most one a second.
class PageTrafficLimit {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    explicit PageTrafficLimit(Now now = Clock::now);

    // Whether one more command of `kind` may run now, at most `perSecond` a second; counts it if so.
    bool Admit(std::string_view kind, double perSecond);

    // Whether an ERROR line about the page's traffic may be written now; if so, how many were held back
    // since the last one that was.
    std::optional<size_t> MayLog();

private:
    struct Bucket {
        double tokens;
        Clock::time_point filledAt;
    };

    const Now now_;
    std::map<std::string, Bucket, std::less<>> buckets_;
    std::optional<Clock::time_point> loggedAt_;
    size_t heldBack_ = 0;
};

}  // namespace velmora
