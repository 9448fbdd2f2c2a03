// Start-up of the widget host: time from exec of `velmora ms-gamebarwidget:launch` to the first frame of
// the widget window (offscreen, with an empty test page, so the shell's own cost shows), and the process's
// PSS at that moment. Each run is a fresh process on a private session bus of this program's own.
//
//   shell_startup_bench [--runs N] [--label TEXT] [--program PATH]
// --program runs another build of the shell (one that shows a page and reports FIRST_FRAME the same way).
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/ProcessMeasures.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateBus.h"

using bench::MonotonicNs;
using bench::PssKiB;

namespace {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 20;
    std::string shell = testsupport::BuildOutput("tests/Velmora/velmora-testshell");
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
        if (option == "--label") ::setenv("VELMORA_TEST_PAGE_LABEL", argv[i + 1], 1);
        if (option == "--program") shell = argv[i + 1];
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testsupport::PrivateBusEnvironment bus;
    bus.SetUp();

    std::vector<double> millis, mib;
    for (int run = 0; run < runs; ++run) {
        int64_t start = MonotonicNs();
        // ChildProcess starts the program through setpriv, which execs it: its start is counted too.
        testsupport::ChildProcess velmora({shell, "ms-gamebarwidget:launch"});
        std::string frame = velmora.WaitForLine("FIRST_FRAME ", std::chrono::seconds(30));
        if (frame.empty()) {
            std::fprintf(stderr, "shell_startup_bench: no first frame in run %d\n", run + 1);
            return 1;
        }
        millis.push_back((std::stoll(frame.substr(12)) - start) / 1e6);
        mib.push_back(PssKiB(velmora.pid()) / 1024.0);
        velmora.Signal(SIGTERM);
        if (velmora.Wait(std::chrono::seconds(10)) != 0) {
            std::fprintf(stderr, "shell_startup_bench: run %d did not end cleanly\n", run + 1);
            return 1;
        }
    }
    std::printf(
        "exec to first frame (offscreen, empty page): median %.1f ms, min %.1f ms, max %.1f ms over %d runs"
        " (goal < 150 ms)\n",
        Median(millis), *std::min_element(millis.begin(), millis.end()),
        *std::max_element(millis.begin(), millis.end()), runs);
    std::printf("PSS at the first frame: median %.1f MiB (goal < 45 MB)\n", Median(mib));
    return 0;
}
