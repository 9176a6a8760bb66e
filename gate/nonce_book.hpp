#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <mutex>
#include <string>
#include <string_view>

#include "gate_fault.hpp"

namespace vorn::gate {

using NonceSecret = std::array<std::byte, 32>;
using NonceId = std::array<std::byte, 16>;

// What a good nonce vouches for.
struct NonceFacts {
    double difficulty = 0;
    std::int64_t issuedAt = 0;
    NonceId id{};  // the random part, for the replay set
};

// Stateless nonces: the issue time, the difficulty and a random part, with
// an HMAC-SHA-256 over them and the client address. The secret lives only in
// memory and is replaced every `lifetime` seconds; the one before stays good
// for checking, so every nonce can be checked for its whole life. Shared by
// the connection threads.
class NonceBook {
public:
    // `lifetime` in seconds, at least 1. Draws the first secret.
    explicit NonceBook(std::int64_t lifetime);

    // 86 characters of base64url.
    [[nodiscard]] std::string issue(std::string_view client, double difficulty, std::int64_t now);

    // BadNonce for a nonce not made by this book for `client` (wrong length,
    // forged, another client's, from a secret already dropped, or issued in
    // the future); ExpiredNonce once `lifetime` seconds have passed.
    [[nodiscard]] std::expected<NonceFacts, Fault> check(std::string_view nonce,
                                                         std::string_view client, std::int64_t now);

    [[nodiscard]] std::int64_t lifetime() const { return lifetime_; }

private:
    // Replaces the secrets that are due; with mutex_ held.
    void rotate(std::int64_t now);

    const std::int64_t lifetime_;
    std::mutex mutex_;  // guards the three fields below
    NonceSecret current_{};
    NonceSecret previous_{};
    std::int64_t currentSince_ = 0;
};

}  // namespace vorn::gate
