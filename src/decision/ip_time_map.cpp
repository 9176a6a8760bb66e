#include "decision/ip_time_map.hpp"

#include <algorithm>
#include <new>
#include <utility>

namespace vorn {

namespace {

constexpr std::size_t initialCapacity = 16;

// Grow before a new key would fill more than three quarters of the table, so
// that probe runs stay short and an empty slot always ends them.
constexpr bool overLoaded(std::size_t keys, std::size_t capacity) {
    return keys > capacity / 4 * 3;
}

}  // namespace

// The slot holding `key`, or the empty slot where it would go. Needs storage.
std::size_t IpTimeMap::slotOf(std::uint64_t key) const {
    const std::size_t mask = capacity_ - 1;
    std::size_t slot = static_cast<std::size_t>(key) & mask;
    while (entries_[slot].key != 0 && entries_[slot].key != key) slot = (slot + 1) & mask;
    return slot;
}

bool IpTimeMap::insertOrTouch(std::uint64_t key, Nanos time) {
    if (key == 0) return false;
    if (capacity_ > 0) {
        std::size_t slot = slotOf(key);
        if (entries_[slot].key == key) {
            entries_[slot].lastSeen = time;
            return true;
        }
    }
    if ((capacity_ == 0 || overLoaded(size_ + 1, capacity_)) && !grow()) return false;
    entries_[slotOf(key)] = Entry{key, time};
    ++size_;
    return true;
}

std::optional<Nanos> IpTimeMap::lastSeen(std::uint64_t key) const {
    if (key == 0 || capacity_ == 0) return std::nullopt;
    const Entry& entry = entries_[slotOf(key)];
    if (entry.key != key) return std::nullopt;
    return entry.lastSeen;
}

// Doubles the table and re-inserts every key. Returns false, leaving the
// table as it was, when the limit is reached or memory is short.
bool IpTimeMap::grow() {
    std::size_t newCapacity = capacity_ == 0 ? initialCapacity : capacity_ * 2;
    if (capacity_ >= capacityLimit_ || newCapacity > capacityLimit_) return false;
    std::unique_ptr<Entry[]> fresh(new (std::nothrow) Entry[newCapacity]());
    if (!fresh) return false;
    std::unique_ptr<Entry[]> old = std::exchange(entries_, std::move(fresh));
    std::size_t oldCapacity = std::exchange(capacity_, newCapacity);
    for (std::size_t i = 0; i < oldCapacity; ++i) {
        if (old[i].key != 0) entries_[slotOf(old[i].key)] = old[i];
    }
    return true;
}

// Empties `slot` and moves later entries of its probe run back into the gap,
// so that every key stays reachable from its home slot without tombstones.
void IpTimeMap::eraseAt(std::size_t slot) {
    const std::size_t mask = capacity_ - 1;
    std::size_t hole = slot;
    for (std::size_t next = (hole + 1) & mask; entries_[next].key != 0; next = (next + 1) & mask) {
        std::size_t home = static_cast<std::size_t>(entries_[next].key) & mask;
        // The entry may fill the hole when the hole lies between its home and it.
        if (((next - home) & mask) >= ((next - hole) & mask)) {
            entries_[hole] = entries_[next];
            hole = next;
        }
    }
    entries_[hole] = Entry{};
    --size_;
}

void IpTimeMap::removeOlderThan(Nanos cutoff) {
    if (size_ == 0) return;
    const std::size_t mask = capacity_ - 1;
    // Sweeping from an empty slot means no probe run wraps past the sweep's
    // start, so an entry shifted back by a removal is never skipped.
    std::size_t start = 0;
    while (entries_[start].key != 0) ++start;
    for (std::size_t step = 1; step < capacity_;) {
        std::size_t slot = (start + step) & mask;
        if (entries_[slot].key != 0 && entries_[slot].lastSeen < cutoff) {
            eraseAt(slot);
        } else {
            ++step;
        }
    }
}

void IpTimeMap::clear() {
    std::fill_n(entries_.get(), capacity_, Entry{});
    size_ = 0;
}

}  // namespace vorn
