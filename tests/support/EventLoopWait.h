#pragma once

#include <functional>

namespace testsupport {

// Runs the Qt event loop until done() holds or the timeout passes; returns done(). Unlike QTest::qWaitFor,
// which sleeps between rounds of events, it delivers each event as it comes, so what it waits for is not
// delayed (which latency measurements rely on).
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000);

}  // namespace testsupport
