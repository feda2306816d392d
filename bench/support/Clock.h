#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>

// The one clock every benchmark reads: monotonic, in nanoseconds.
inline std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline double nsToMs(std::int64_t ns)
{
    return double(ns) / 1e6;
}

inline double nsToUs(std::int64_t ns)
{
    return double(ns) / 1e3;
}

// CPU time of the calling thread (user and system), in nanoseconds.
inline std::int64_t threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}
