#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "gate/expiring_table.hpp"
#include "gate/nonce_book.hpp"

namespace vorn {

// The nonces already answered, each kept until it expires: a fixed table,
// allocated once, so that a flood of answers cannot grow the process. An
// answer is refused as Full only when every entry holds a nonce that can
// still be answered; entries that expired are dropped first. Times are
// seconds on the steady clock. Shared by the worker threads.
class ReplaySet {
public:
    enum class Outcome { Fresh, Replayed, Full };

    // Room for `capacity` nonces, each kept at most `lifetimeSeconds` (and
    // the second it is in).
    ReplaySet(std::size_t capacity, std::int64_t lifetimeSeconds);

    // Records `id`, good until `expiresAt` (exclusive, after `now`).
    [[nodiscard]] Outcome remember(const NonceId& id, std::int64_t expiresAt, std::int64_t now);

    // Nonces held, some perhaps expired and not dropped yet.
    [[nodiscard]] std::size_t size() const;
    [[nodiscard]] std::size_t capacity() const { return capacity_; }

private:
    struct Nothing {};

    const std::size_t capacity_;
    mutable std::mutex mutex_;  // guards table_
    ExpiringTable<Nothing> table_;
};

}  // namespace vorn
