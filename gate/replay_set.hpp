#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "nonce_book.hpp"

namespace vorn::gate {

// The nonces already answered, each kept until it expires: a fixed table,
// allocated once, so that a flood of answers cannot grow the process. When
// the slots a nonce may take all hold live nonces, the answer is refused
// rather than an old nonce forgotten. Shared by the connection threads.
class ReplaySet {
public:
    enum class Outcome { Fresh, Replayed, Full };

    // `slots`, a power of two.
    explicit ReplaySet(std::size_t slots);

    // Records `id`, good until `expiresAt` (exclusive), at time `now`.
    [[nodiscard]] Outcome remember(const NonceId& id, std::int64_t expiresAt, std::int64_t now);

private:
    struct Slot {
        NonceId id{};
        std::int64_t expiresAt = 0;  // 0: never used
    };

    const std::size_t mask_;
    std::mutex mutex_;  // guards slots_
    std::unique_ptr<Slot[]> slots_;
};

}  // namespace vorn::gate
