#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "token/base64url.hpp"
#include "token/receipt_key_set.hpp"
#include "token/token_signer.hpp"

namespace vorn::test {

// Deterministic signing keys: seed n is 32 bytes of value n.
inline SigningSeed seedOf(std::uint8_t n) {
    SigningSeed seed{};
    seed.fill(std::byte{n});
    return seed;
}

inline constexpr std::string_view defaultJti = "0123456789abcdef0123456789ABCDEF";

inline std::string headerJson(std::string_view kid = "k1") {
    return R"({"alg":"EdDSA","kid":")" + std::string(kid) + R"("})";
}

inline std::string payloadJson(std::string_view aud, std::int64_t exp,
                               std::string_view jti = defaultJti) {
    return R"({"aud":")" + std::string(aud) + R"(","diff":0.5,"exp":)" + std::to_string(exp) +
           R"(,"jti":")" + std::string(jti) + R"("})";
}

inline std::string mint(std::string_view header, std::string_view payload, std::uint8_t seed = 1) {
    return *signToken(header, payload, seedOf(seed));
}

// A key set holding the public key of seed `seed` under `kid`.
inline ReceiptKeySet keysFor(std::string_view kid, std::uint8_t seed = 1) {
    return *parseReceiptKeys(std::string(kid) + " " + publicKeyText(seedOf(seed)) + "\n");
}

inline std::string segmentOf(std::string_view json) {
    return base64UrlText(std::as_bytes(std::span(json.data(), json.size())));
}

}  // namespace vorn::test
