#pragma once

#include <sodium.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "common/wyhash.hpp"

namespace vorn {

using TableKey = std::array<std::byte, 16>;

// A fixed table of keys, each with a value and the second it expires at; an
// entry is live while the time is before that second. Sized once and never
// grown. Every expiry lies at most `horizon` seconds ahead when it is set,
// so a wheel of one list per second finds the expired entries without a
// sweep of the table: an insert first drops every entry that has expired,
// and so fails only when all `capacity` entries are live. Keys are hashed
// with a random seed, so that nobody can aim keys at one chain. Not
// thread-safe: its owner locks.
template <typename Value>
class ExpiringTable {
public:
    using Slot = std::uint32_t;

    ExpiringTable(std::size_t capacity, std::int64_t horizon)
        : capacity_(capacity),
          mask_(chainCount(capacity) - 1),
          wheelSize_(static_cast<std::size_t>(horizon) + 2),
          nodes_(std::make_unique<Node[]>(capacity)),
          chains_(std::make_unique<Slot[]>(mask_ + 1)),
          wheel_(std::make_unique<Slot[]>(wheelSize_)) {
        randombytes_buf(&seed_, sizeof(seed_));
        std::fill_n(chains_.get(), mask_ + 1, none);
        std::fill_n(wheel_.get(), wheelSize_, none);
        for (std::size_t i = 0; i < capacity; ++i) {
            nodes_[i].chainNext = i + 1 < capacity ? static_cast<Slot>(i + 1) : none;
        }
        free_ = capacity > 0 ? 0 : none;
    }

    // The live entry of `key` at `now`.
    [[nodiscard]] std::optional<Slot> find(const TableKey& key, std::int64_t now) const {
        for (Slot at = chains_[chainOf(key)]; at != none; at = nodes_[at].chainNext) {
            if (nodes_[at].key == key && nodes_[at].expiresAt > now) return at;
        }
        return std::nullopt;
    }

    // Adds `key`, which has no live entry, until `expiresAt` (after `now`, at
    // most `horizon` later), with a value-initialised value. Drops the
    // expired entries first; nothing when every entry is live.
    [[nodiscard]] std::optional<Slot> insert(const TableKey& key, std::int64_t expiresAt,
                                             std::int64_t now) {
        dropExpired(now);
        if (free_ == none) return std::nullopt;
        const Slot at = free_;
        Node& node = nodes_[at];
        free_ = node.chainNext;
        node.key = key;
        node.value = Value{};
        Slot& chain = chains_[chainOf(key)];
        node.chainNext = chain;
        chain = at;
        link(at, expiresAt);
        ++size_;
        return at;
    }

    // Moves the expiry of an entry live at `now` (after `now`, at most
    // `horizon` later). Drops the expired entries first, so that the wheel
    // never holds two seconds on one spoke.
    void extend(Slot at, std::int64_t expiresAt, std::int64_t now) {
        dropExpired(now);
        unlink(at);
        link(at, expiresAt);
    }

    [[nodiscard]] Value& value(Slot at) { return nodes_[at].value; }
    [[nodiscard]] std::int64_t expiresAt(Slot at) const { return nodes_[at].expiresAt; }
    // Entries held, those expired but not dropped yet among them.
    [[nodiscard]] std::size_t size() const { return size_; }
    [[nodiscard]] std::size_t capacity() const { return capacity_; }

private:
    static constexpr Slot none = UINT32_MAX;

    struct Node {
        TableKey key{};
        std::int64_t expiresAt = 0;
        Slot chainNext = none;
        Slot wheelNext = none;
        Slot wheelPrev = none;
        Value value{};
    };

    static std::size_t chainCount(std::size_t capacity) {
        std::size_t count = 1;
        while (count < capacity) count *= 2;
        return count;
    }

    [[nodiscard]] std::size_t chainOf(const TableKey& key) const {
        const std::string_view bytes(reinterpret_cast<const char*>(key.data()), key.size());
        return wyhash(bytes, seed_) & mask_;
    }

    [[nodiscard]] std::size_t spokeOf(std::int64_t second) const {
        return static_cast<std::size_t>(second) % wheelSize_;
    }

    void link(Slot at, std::int64_t expiresAt) {
        Node& node = nodes_[at];
        node.expiresAt = expiresAt;
        Slot& head = wheel_[spokeOf(expiresAt)];
        node.wheelPrev = none;
        node.wheelNext = head;
        if (head != none) nodes_[head].wheelPrev = at;
        head = at;
    }

    void unlink(Slot at) {
        Node& node = nodes_[at];
        if (node.wheelPrev != none) {
            nodes_[node.wheelPrev].wheelNext = node.wheelNext;
        } else {
            wheel_[spokeOf(node.expiresAt)] = node.wheelNext;
        }
        if (node.wheelNext != none) nodes_[node.wheelNext].wheelPrev = node.wheelPrev;
    }

    void drop(Slot at) {
        unlink(at);
        Slot* link = &chains_[chainOf(nodes_[at].key)];
        while (*link != at) link = &nodes_[*link].chainNext;
        *link = nodes_[at].chainNext;
        nodes_[at].chainNext = free_;
        free_ = at;
        --size_;
    }

    // Each second's spoke holds exactly the entries expiring then, since no
    // expiry is set further ahead than the wheel turns; every second is
    // visited once, and after a quiet spell at most one turn is walked.
    void dropExpired(std::int64_t now) {
        if (!cursor_) cursor_ = now;
        for (std::size_t turned = 0; *cursor_ <= now && turned < wheelSize_; ++turned) {
            Slot& head = wheel_[spokeOf(*cursor_)];
            while (head != none) drop(head);
            ++*cursor_;
        }
        if (*cursor_ <= now) cursor_ = now + 1;
    }

    const std::size_t capacity_;
    const std::size_t mask_;
    const std::size_t wheelSize_;
    std::unique_ptr<Node[]> nodes_;
    std::unique_ptr<Slot[]> chains_;
    std::unique_ptr<Slot[]> wheel_;
    Slot free_ = none;
    std::size_t size_ = 0;
    std::optional<std::int64_t> cursor_;  // the next second whose entries expire
    std::uint64_t seed_ = 0;
};

}  // namespace vorn
