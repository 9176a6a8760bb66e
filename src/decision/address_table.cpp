#include "decision/address_table.hpp"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "common/wyhash.hpp"

namespace vorn {

namespace {

__extension__ using Wide = unsigned __int128;

// Entries keep slot numbers modulo 2^32; ages within the window are tiny.
constexpr std::uint32_t truncated(std::int64_t slot) {
    return static_cast<std::uint32_t>(slot);
}

}  // namespace

std::expected<AddressTable, Error> AddressTable::create(std::size_t slots) {
    if (slots == 0) return AddressTable();
    std::unique_ptr<Entry[], Free> entries(static_cast<Entry*>(std::calloc(slots, sizeof(Entry))));
    if (!entries) return std::unexpected(Error::OutOfMemory);
    std::uint64_t seed = 0;
    randombytes_buf(&seed, sizeof seed);
    return AddressTable(std::move(entries), slots, seed);
}

AddressTable::AddressTable(std::unique_ptr<Entry[], Free> entries, std::size_t slots,
                           std::uint64_t seed)
    : entries_(std::move(entries)), slots_(slots), capacity_(capacityFor(slots)), seed_(seed) {}

bool AddressTable::isLive(const Entry& entry) const {
    return static_cast<std::uint32_t>(truncated(current_) - entry.slot) < windowSlots;
}

std::size_t AddressTable::home(std::uint64_t key) const {
    std::array<char, sizeof key> bytes{};
    std::memcpy(bytes.data(), &key, sizeof key);
    const std::uint64_t hash = wyhash(std::string_view(bytes.data(), bytes.size()), seed_);
    return static_cast<std::size_t>((Wide{hash} * slots_) >> 64);
}

std::uint32_t& AddressTable::liveInSlot(std::int64_t slot) {
    return liveBySlot_[static_cast<std::size_t>((slot % windowSlots + windowSlots) % windowSlots)];
}

void AddressTable::startAt(std::int64_t slot) {
    current_ = slot;
    live_ = 0;
    liveBySlot_.fill(0);
}

void AddressTable::advanceTo(std::int64_t slot) {
    if (slot <= current_) return;
    if (slot - current_ >= windowSlots) {
        live_ = 0;
        liveBySlot_.fill(0);
    } else {
        for (std::int64_t leaving = current_ - windowSlots + 1; leaving <= slot - windowSlots;
             ++leaving) {
            std::uint32_t& count = liveInSlot(leaving);
            live_ -= count;
            count = 0;
        }
    }
    current_ = slot;
}

void AddressTable::refresh(Entry& entry) {
    const std::uint32_t now = truncated(current_);
    if (entry.slot == now) return;
    const std::uint32_t age = now - entry.slot;
    --liveInSlot(current_ - age);
    ++liveInSlot(current_);
    entry.slot = now;
}

// One walk of the probe window finds a live entry of the key, or else the
// first place that is empty or expired, where the key goes.
AddressTable::Outcome AddressTable::record(std::uint64_t key) {
    const std::size_t reach = std::min(probeLimit, slots_);
    std::size_t place = reach > 0 ? home(key) : 0;
    std::size_t free = slots_;
    for (std::size_t step = 0; step < reach; ++step, place = next(place)) {
        Entry& entry = entries_[place];
        const bool empty = keyOf(entry) == 0;
        if (empty || !isLive(entry)) {
            if (free == slots_) free = place;
            if (empty) break;
            continue;
        }
        if (keyOf(entry) == key) {
            refresh(entry);
            return Outcome::refreshed;
        }
    }
    if (free == slots_ || live_ >= capacity_) {
        ++dropped_;
        return Outcome::dropped;
    }
    Entry& entry = entries_[free];
    if (keyOf(entry) == 0) ++occupied_;
    entry = Entry{static_cast<std::uint32_t>(key), static_cast<std::uint32_t>(key >> 32),
                  truncated(current_)};
    ++live_;
    ++liveInSlot(current_);
    return Outcome::recorded;
}

// The cursor walks down the table, so the places after the one it looks at
// were swept a moment ago: an expired address there is rare, and removing
// the last of a run of expired ones is a single step.
void AddressTable::sweep() {
    if (occupied_ - live_ <= slots_ / sweepSlack) return;
    std::size_t budget = sweepBudget;
    while (budget > 0 && occupied_ > live_) {
        --budget;
        const Entry& entry = entries_[cursor_];
        if (keyOf(entry) != 0 && !isLive(entry)) {
            // Found with no budget left: it is the first place next time.
            if (budget == 0) return;
            erase(cursor_, budget);
        }
        cursor_ = cursor_ == 0 ? slots_ - 1 : cursor_ - 1;
    }
}

// Empties the expired `place` and moves later live entries of its probe run
// back into the gap (each one whose home the gap does not lie after), so
// that no removal leaves a marker for the lookups to step over. Expired
// entries stay where they are: no lookup looks for them. An entry never
// sits a probe limit or more from its home, so the search stops there.
// When the budget runs out first, the gap keeps what it holds, expired (the
// entry itself, or a copy of the last one moved out), for a later pass.
void AddressTable::erase(std::size_t place, std::size_t& budget) {
    const std::size_t reach = std::min(probeLimit, slots_);
    std::size_t hole = place;
    for (std::size_t at = next(place);; at = next(at)) {
        const std::size_t gap = distance(hole, at);
        if (gap == 0 || gap >= reach) break;
        if (budget == 0) {
            if (hole != place) entries_[hole].slot = truncated(current_ - windowSlots);
            return;
        }
        --budget;
        const Entry& entry = entries_[at];
        if (keyOf(entry) == 0) break;
        if (isLive(entry) && distance(home(keyOf(entry)), at) >= gap) {
            entries_[hole] = entry;
            hole = at;
        }
    }
    entries_[hole] = Entry{};
    --occupied_;
}

}  // namespace vorn
