#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <mutex>
#include <optional>
#include <string_view>

#include "gate/gate_fault.hpp"

namespace vorn {

using NonceSecret = std::array<std::byte, 32>;
using NonceId = std::array<std::byte, 16>;
// 86 characters of base64url.
using NonceText = std::array<char, 86>;

// What a good nonce vouches for.
struct NonceFacts {
    double difficulty = 0;
    std::int64_t issuedAtMillis = 0;  // on the steady clock
    NonceId id{};                     // the random part, for the replay set
};

// Stateless nonces: the issue time, the difficulty and a random part, with
// an HMAC-SHA-256 over them and the client address. The secret lives only in
// memory and is replaced every `lifetime` seconds; the one before stays good
// for checking, so every nonce can be checked for its whole life. Times are
// milliseconds on the steady clock. Shared by the worker threads.
class NonceBook {
public:
    // `lifetimeSeconds` at least 1. Draws the first secret.
    explicit NonceBook(std::int64_t lifetimeSeconds);

    [[nodiscard]] NonceText issue(std::string_view client, double difficulty,
                                  std::int64_t nowMillis);

    // BadNonce for a nonce not made by this book for `client` (wrong length,
    // forged, another client's, from a secret already dropped, or issued in
    // the future); ExpiredNonce once its lifetime has passed.
    [[nodiscard]] std::expected<NonceFacts, GateFault> check(std::string_view nonce,
                                                             std::string_view client,
                                                             std::int64_t nowMillis);

    [[nodiscard]] std::int64_t lifetimeMillis() const { return lifetime_; }

private:
    // Replaces the secrets that are due; with mutex_ held.
    void rotate(std::int64_t nowMillis);

    const std::int64_t lifetime_;
    std::mutex mutex_;  // guards the three fields below
    NonceSecret current_{};
    NonceSecret previous_{};
    std::optional<std::int64_t> currentSince_;
};

}  // namespace vorn
