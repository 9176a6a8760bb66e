#pragma once

#include <cstdint>

#include "common/nanos.hpp"

namespace vorn {

// The two clocks one request is judged by, read once when it has arrived:
// the wall clock for receipts and log lines, the clock that never steps for
// nonces, their tables and solve times (nonces do not outlive the process,
// whose secret they are signed with).
struct GateTime {
    std::int64_t wallMillis = 0;
    std::int64_t steadyMillis = 0;

    [[nodiscard]] std::int64_t wallSeconds() const { return floorDivide(wallMillis, 1000); }
    [[nodiscard]] std::int64_t steadySeconds() const { return floorDivide(steadyMillis, 1000); }

    [[nodiscard]] static GateTime now() {
        return {.wallMillis = wallClockMillis(),
                .steadyMillis = static_cast<std::int64_t>(steadyNanos() / 1'000'000)};
    }

private:
    [[nodiscard]] static constexpr std::int64_t floorDivide(std::int64_t value, std::int64_t by) {
        return static_cast<std::int64_t>(floorDiv(value, by));
    }
};

}  // namespace vorn
