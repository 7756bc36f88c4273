#pragma once

#include <chrono>

// Seconds on the clock that every process of this machine shares and that never jumps
// (CLOCK_MONOTONIC on Linux): the virtual radio stamps its events with it, and the benchmark
// and tests compare those stamps with their own.
inline double monotonicSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
