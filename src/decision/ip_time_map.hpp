#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "common/nanos.hpp"

namespace vorn {

// Client-address hashes with the time each was last seen: open addressing
// with linear probing, indexed by the hash's low bits (Wyhash output is
// already well mixed). Key 0 marks an empty slot and is never stored. Storage
// grows by doubling and is otherwise kept, so removals and clearing never
// allocate. Belongs to the loop thread.
class IpTimeMap {
    struct Entry {
        std::uint64_t key;
        Nanos lastSeen;
    };

public:
    // The largest table whose byte size fits in size_t.
    static constexpr std::size_t noCapacityLimit =
        std::bit_floor(std::numeric_limits<std::size_t>::max() / sizeof(Entry));

    // `capacityLimit` (a power of two) caps growth as if memory ran out there.
    explicit IpTimeMap(std::size_t capacityLimit = noCapacityLimit)
        : capacityLimit_(capacityLimit) {}

    // Records `key` (non-zero) as seen at `time`, overwriting an earlier time.
    // Returns false when a new key cannot be stored because the table could
    // not grow; a key already present is always updated.
    bool insertOrTouch(std::uint64_t key, Nanos time);

    // When `key` was last seen, if it is present.
    [[nodiscard]] std::optional<Nanos> lastSeen(std::uint64_t key) const;

    // Drops every key last seen before `cutoff`, in place.
    void removeOlderThan(Nanos cutoff);

    // Drops every key and keeps the storage.
    void clear();

    [[nodiscard]] std::size_t size() const { return size_; }
    [[nodiscard]] std::size_t capacity() const { return capacity_; }

private:
    [[nodiscard]] std::size_t slotOf(std::uint64_t key) const;
    [[nodiscard]] bool grow();
    void eraseAt(std::size_t slot);

    std::unique_ptr<Entry[]> entries_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
    std::size_t capacityLimit_;
};

}  // namespace vorn
