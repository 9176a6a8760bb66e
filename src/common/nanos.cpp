#include "common/nanos.hpp"

#include <ctime>

namespace vorn {

Nanos wallClockNanos() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return Nanos{ts.tv_sec} * nanosPerSecond + ts.tv_nsec;
}

Nanos steadyNanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos{ts.tv_sec} * nanosPerSecond + ts.tv_nsec;
}

std::int64_t wallClockMillis() {
    return static_cast<std::int64_t>(floorDiv(wallClockNanos(), 1'000'000));
}

}  // namespace vorn
