#pragma once

#include <sys/types.h>

#include <cstdint>

namespace bench {

// The monotonic clock in nanoseconds, comparable across processes on one machine.
int64_t MonotonicNs();
// The proportional set size of a process, in KiB; -1 when it cannot be read.
long PssKiB(pid_t pid);
// The unique set size (private memory, clean and dirty) of a process, in KiB; -1 when it cannot be read.
long UssKiB(pid_t pid);
// User plus system CPU time a process has used so far, in milliseconds.
double CpuMs(pid_t pid);

}  // namespace bench
