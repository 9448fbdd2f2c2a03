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
// The private pages a process has written (heap, stacks, arenas, relocated data), in KiB; -1 when it cannot
// be read. Unlike USS it leaves out the clean pages of libraries, which count as private only while no
// other process maps them: what else runs on the machine moves USS by megabytes.
long PrivateDirtyKiB(pid_t pid);
// User plus system CPU time a process has used so far, in milliseconds.
double CpuMs(pid_t pid);

}  // namespace bench
