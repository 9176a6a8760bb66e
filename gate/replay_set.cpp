#include "replay_set.hpp"

#include <cstring>

namespace vorn::gate {

namespace {

// A nonce may sit in this many slots from its home slot on.
constexpr std::size_t probeLength = 16;

}  // namespace

ReplaySet::ReplaySet(std::size_t slots) : mask_(slots - 1), slots_(new Slot[slots]) {}

ReplaySet::Outcome ReplaySet::remember(const NonceId& id, std::int64_t expiresAt,
                                       std::int64_t now) {
    // The id is random, so its first bytes spread the nonces evenly.
    std::uint64_t home = 0;
    std::memcpy(&home, id.data(), sizeof(home));
    std::lock_guard lock(mutex_);
    Slot* free = nullptr;
    for (std::size_t i = 0; i < probeLength; ++i) {
        Slot& slot = slots_[(home + i) & mask_];
        const bool live = slot.expiresAt > now;
        if (live && slot.id == id) return Outcome::Replayed;
        if (!live && free == nullptr) free = &slot;
    }
    if (free == nullptr) return Outcome::Full;
    free->id = id;
    free->expiresAt = expiresAt;
    return Outcome::Fresh;
}

}  // namespace vorn::gate
