#include "gate/replay_set.hpp"

namespace vorn {

ReplaySet::ReplaySet(std::size_t capacity, std::int64_t lifetimeSeconds)
    : capacity_(capacity), table_(capacity, lifetimeSeconds + 1) {}

ReplaySet::Outcome ReplaySet::remember(const NonceId& id, std::int64_t expiresAt,
                                       std::int64_t now) {
    std::lock_guard lock(mutex_);
    if (table_.find(id, now)) return Outcome::Replayed;
    return table_.insert(id, expiresAt, now) ? Outcome::Fresh : Outcome::Full;
}

std::size_t ReplaySet::size() const {
    std::lock_guard lock(mutex_);
    return table_.size();
}

}  // namespace vorn
