#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorn {

// Limits of the pass-receipt format. A token is header.payload.signature,
// each segment unpadded base64url; the signature covers header.payload.
inline constexpr std::size_t maxTokenLength = 407;
inline constexpr std::size_t maxSigningInputLength = 320;
inline constexpr std::size_t signatureSegmentLength = 86;
inline constexpr std::size_t maxKeyIdLength = 128;
inline constexpr std::size_t jtiHexDigits = 32;

using Jti = std::array<std::byte, 16>;
using Signature = std::array<std::byte, 64>;
using PublicKey = std::array<std::byte, 32>;

// A token that passed every check that needs no signature: what the receipt
// book and a signature check need next. Fixed size, nothing on the heap.
struct Receipt {
    Jti jti{};
    std::int64_t exp = 0;
    double diff = 0;
    std::uint64_t fingerprint = 0;  // wyhash, seed 0, of the whole token text
    std::array<char, maxKeyIdLength> kid{};
    std::uint8_t kidLength = 0;
    std::uint16_t signingInputLength = 0;
    std::array<char, maxSigningInputLength> signingInput{};
    Signature signature{};
    PublicKey publicKey{};        // copied from the key set, unaffected by a reload
    std::uint64_t keyDigest = 0;  // keyDigest(publicKey): which key a check was made with

    [[nodiscard]] std::string_view keyId() const { return {kid.data(), kidLength}; }
    [[nodiscard]] std::string_view signedText() const {
        return {signingInput.data(), signingInputLength};
    }
};

}  // namespace vorn
