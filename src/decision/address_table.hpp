#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <expected>
#include <memory>

#include "common/error.hpp"

namespace vorn {

// The distinct client addresses of one path class in the rolling window, in
// a table whose size is fixed when it is created. An address lives while
// the ten-second slot of its latest request is one of the window's sixty;
// per-slot counts keep the number of live addresses exact without visiting
// the table, so expired addresses stop counting, and their places can be
// reused, the moment their slot leaves the window. A sweep then removes
// them a few places per request. Open addressing with linear probing,
// homed by a keyed hash of the address hash: clients choose their
// addresses, so they must not be able to choose where those land. Belongs
// to the loop thread.
class AddressTable {
public:
    static constexpr std::int64_t windowSlots = 60;
    static constexpr std::size_t bytesPerSlot = 12;
    // An address is placed within this many places of its home or not at
    // all, which bounds every lookup.
    static constexpr std::size_t probeLimit = 128;
    // Places the sweep visits per counted request, moves included.
    static constexpr std::size_t sweepBudget = 32;
    // The sweep waits until more than one place in this many holds an
    // expired address: they cost lookups a little, and sweeping costs every
    // request that runs it.
    static constexpr std::size_t sweepSlack = 32;

    enum class Outcome : std::uint8_t { recorded, refreshed, dropped };

    // The addresses a table of `slots` places holds: three quarters of them,
    // which keeps probe runs short.
    [[nodiscard]] static constexpr std::size_t capacityFor(std::size_t slots) {
        return slots - slots / 4;
    }

    // An empty table of `slots` places (calloc'd, so pages no address has
    // reached stay untouched). OutOfMemory when they cannot be had.
    [[nodiscard]] static std::expected<AddressTable, Error> create(std::size_t slots);

    // A table without places: it records nothing.
    AddressTable() = default;

    // Starts the window at ten-second slot `slot`; call once, before the
    // first record, on an empty table.
    void startAt(std::int64_t slot);

    // Moves the window's current slot forward to `slot`: the addresses last
    // seen in the slots that left the window expire. At most sixty counts
    // are visited, however many addresses expire.
    void advanceTo(std::int64_t slot);

    // Records address hash `key` (not 0) as seen in the current slot: a
    // live address is refreshed; a new one is recorded unless the table
    // holds its capacity of live addresses or no place is free within the
    // probe limit, and is then dropped.
    Outcome record(std::uint64_t key);

    // Removes expired addresses from the places at the sweep's cursor,
    // visiting at most sweepBudget places, once more than a sweepSlack-th
    // of the places hold them. Call once per counted request.
    void sweep();

    [[nodiscard]] std::size_t entries() const { return live_; }
    // Places holding an address: the live ones and the expired ones the
    // sweep has not removed yet.
    [[nodiscard]] std::size_t occupied() const { return occupied_; }
    [[nodiscard]] std::size_t capacity() const { return capacity_; }
    [[nodiscard]] std::uint64_t dropped() const { return dropped_; }

private:
    struct Entry {
        std::uint32_t keyLow;
        std::uint32_t keyHigh;
        std::uint32_t slot;  // the window slot of its latest request, modulo 2^32
    };
    static_assert(sizeof(Entry) == bytesPerSlot);

    struct Free {
        void operator()(void* memory) const { std::free(memory); }
    };

    AddressTable(std::unique_ptr<Entry[], Free> entries, std::size_t slots, std::uint64_t seed);

    [[nodiscard]] static std::uint64_t keyOf(const Entry& entry) {
        return std::uint64_t{entry.keyHigh} << 32 | entry.keyLow;
    }
    [[nodiscard]] bool isLive(const Entry& entry) const;
    [[nodiscard]] std::size_t home(std::uint64_t key) const;
    [[nodiscard]] std::size_t next(std::size_t place) const {
        return place + 1 == slots_ ? 0 : place + 1;
    }
    [[nodiscard]] std::size_t distance(std::size_t from, std::size_t to) const {
        return to >= from ? to - from : to + slots_ - from;
    }
    [[nodiscard]] std::uint32_t& liveInSlot(std::int64_t slot);
    void refresh(Entry& entry);
    void erase(std::size_t place, std::size_t& budget);

    std::unique_ptr<Entry[], Free> entries_;
    std::size_t slots_ = 0;
    std::size_t capacity_ = 0;
    std::uint64_t seed_ = 0;
    std::int64_t current_ = 0;  // the window's current slot
    std::size_t live_ = 0;      // addresses whose slot is in the window
    std::size_t occupied_ = 0;  // places holding an address, live or expired
    std::size_t cursor_ = 0;    // the sweep's next place
    std::uint64_t dropped_ = 0;
    std::array<std::uint32_t, windowSlots> liveBySlot_{};  // indexed by slot modulo 60
};

}  // namespace vorn
