// What the benchmarks measure besides wall time.
#pragma once

#include <sys/resource.h>
#include <time.h>

// CPU seconds used so far by this process (all threads) and its finished children: on a shared
// machine the wall-clock ratio depends on the other load and the disk, the CPU ratio much less.
inline double CpuSeconds() {
    timespec own{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &own);
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return double(own.tv_sec) + own.tv_nsec / 1e9 + seconds(children.ru_utime) +
           seconds(children.ru_stime);
}
