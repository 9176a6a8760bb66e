#pragma once

#include <cstdint>

namespace vorn {

// Wall-clock time (CLOCK_REALTIME) in nanoseconds since the Unix epoch. Signed
// 128 bits so that sums and differences never overflow.
__extension__ using Nanos = __int128;

inline constexpr Nanos nanosPerSecond = 1'000'000'000;

[[nodiscard]] Nanos wallClockNanos();
// Time that never steps (CLOCK_MONOTONIC), for deadlines.
[[nodiscard]] Nanos steadyNanos();

// Whole milliseconds since the epoch, rounded toward negative infinity.
[[nodiscard]] std::int64_t wallClockMillis();

// Floor division for times before 1970 too.
[[nodiscard]] constexpr Nanos floorDiv(Nanos value, Nanos divisor) {
    Nanos q = value / divisor;
    return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? q - 1 : q;
}

}  // namespace vorn
