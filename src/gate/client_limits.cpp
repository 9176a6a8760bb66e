#include "gate/client_limits.hpp"

#include <algorithm>

namespace vorn {

namespace {

std::int64_t secondOf(std::int64_t millis) {
    return millis / 1000;
}

// The first second that begins at or after `millis`.
std::int64_t secondAfter(std::int64_t millis) {
    return (millis + 999) / 1000;
}

}  // namespace

ClientLimits::ClientLimits(std::size_t capacity, std::uint32_t perClient,
                           std::int64_t lifetimeSeconds)
    : perClient_(perClient),
      lifetimeMillis_(lifetimeSeconds * 1000),
      table_(capacity, lifetimeSeconds + 1) {}

std::int64_t ClientLimits::drain(Load& load, std::int64_t nowMillis) const {
    const std::int64_t elapsed = std::max<std::int64_t>(0, nowMillis - load.since);
    load.units = std::max<std::int64_t>(0, load.units - elapsed * perClient_);
    load.since = nowMillis;
    return std::max(secondOf(nowMillis) + 1, secondAfter(nowMillis + load.units / perClient_));
}

ClientLimits::Admission ClientLimits::admit(const TableKey& client, std::int64_t nowMillis) {
    const std::int64_t now = secondOf(nowMillis);
    std::lock_guard lock(mutex_);
    auto slot = table_.find(client, now);
    if (!slot) slot = table_.insert(client, now + 1, now);
    if (!slot) return Admission::untracked;
    Load& load = table_.value(*slot);
    drain(load, nowMillis);
    if (load.units + lifetimeMillis_ > perClient_ * lifetimeMillis_) return Admission::limited;
    load.units += lifetimeMillis_;
    table_.extend(*slot, drain(load, nowMillis), now);
    return Admission::admitted;
}

void ClientLimits::answered(const TableKey& client, std::int64_t nowMillis) {
    const std::int64_t now = secondOf(nowMillis);
    std::lock_guard lock(mutex_);
    auto slot = table_.find(client, now);
    if (!slot) return;
    Load& load = table_.value(*slot);
    drain(load, nowMillis);
    load.units = std::max<std::int64_t>(0, load.units - lifetimeMillis_);
    table_.extend(*slot, drain(load, nowMillis), now);
}

std::size_t ClientLimits::tracked() const {
    std::lock_guard lock(mutex_);
    return table_.size();
}

}  // namespace vorn
