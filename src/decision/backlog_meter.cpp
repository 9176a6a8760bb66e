#include "decision/backlog_meter.hpp"

namespace vorn {

void BacklogMeter::recordBacklog(std::uint32_t value, Nanos arrival) {
    lastBacklog_ = value;
    if (value >= severeThreshold_) severeUntil_ = arrival + hold_;
    if (value >= hotThreshold_) hotUntil_ = arrival + hold_;
}

MeterLevel BacklogMeter::level(Nanos now, const ClassWindows& windows) const {
    if (now < severeUntil_) return MeterLevel::severe;
    if (now < hotUntil_ || windows.anyGroupHot(now)) return MeterLevel::hot;
    return MeterLevel::calm;
}

}  // namespace vorn
