#pragma once

#include <cstdint>
#include <optional>

#include "common/meter_level.hpp"
#include "common/nanos.hpp"
#include "decision/class_windows.hpp"

namespace vorn {

// Turns the backend queue lengths HAProxy reports into a level: a length at
// or above a threshold raises the level at once and holds it for `hold`
// after the last such length. The level is computed on demand, so it also
// falls while no request arrives. Belongs to the loop thread.
class BacklogMeter {
public:
    // Thresholds are at least 1 and severe is at least hot (checked with the
    // command line).
    BacklogMeter(std::uint32_t hotThreshold, std::uint32_t severeThreshold, Nanos hold)
        : hotThreshold_(hotThreshold), severeThreshold_(severeThreshold), hold_(hold) {}

    // Takes one queue length received at `arrival`. A length below a
    // threshold neither ends nor shortens that threshold's running hold.
    void recordBacklog(std::uint32_t value, Nanos arrival);

    // The level at `now`: severe or hot while a hold runs, else hot while a
    // path-class group is hot, else calm.
    [[nodiscard]] MeterLevel level(Nanos now, const ClassWindows& windows) const;

    // The queue length last received, if any was.
    [[nodiscard]] std::optional<std::uint32_t> lastBacklog() const { return lastBacklog_; }

private:
    std::uint32_t hotThreshold_;
    std::uint32_t severeThreshold_;
    Nanos hold_;
    // Until a threshold is crossed the holds ended long ago, also for a clock
    // set before 1970.
    static constexpr Nanos longAgo = -(Nanos{1} << 126);
    Nanos hotUntil_ = longAgo;
    Nanos severeUntil_ = longAgo;
    std::optional<std::uint32_t> lastBacklog_;
};

}  // namespace vorn
