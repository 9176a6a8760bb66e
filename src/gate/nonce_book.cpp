#include "gate/nonce_book.hpp"

#include <sodium.h>

#include <bit>
#include <cstring>

#include "token/base64url.hpp"

namespace vorn {

namespace {

// issued, steady milliseconds (8 bytes) | difficulty bits (8) | random (16) | HMAC (32)
constexpr std::size_t factsBytes = 32;
constexpr std::size_t nonceBytes = factsBytes + crypto_auth_hmacsha256_BYTES;
constexpr std::size_t nonceChars = std::tuple_size_v<NonceText>;  // base64url of 64 bytes
static_assert(nonceChars == 86);

using NonceBytes = std::array<std::byte, nonceBytes>;

void putU64(std::byte* out, std::uint64_t value) {
    for (int i = 7; i >= 0; --i) {
        out[i] = static_cast<std::byte>(value & 0xffU);
        value >>= 8;
    }
}

std::uint64_t getU64(const std::byte* in) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | std::to_integer<std::uint64_t>(in[i]);
    return value;
}

// HMAC over the client address (with its length first, so that address and
// facts cannot trade bytes) and the facts.
void sign(const NonceSecret& secret, std::string_view client, const std::byte* facts,
          unsigned char* mac) {
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, reinterpret_cast<const unsigned char*>(secret.data()),
                                secret.size());
    std::array<std::byte, 8> length{};
    putU64(length.data(), client.size());
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(length.data()),
                                  length.size());
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(client.data()),
                                  client.size());
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(facts),
                                  factsBytes);
    crypto_auth_hmacsha256_final(&state, mac);
}

bool signedBy(const NonceSecret& secret, std::string_view client, const NonceBytes& nonce) {
    std::array<unsigned char, crypto_auth_hmacsha256_BYTES> expected{};
    sign(secret, client, nonce.data(), expected.data());
    return crypto_verify_32(expected.data(),
                            reinterpret_cast<const unsigned char*>(nonce.data() + factsBytes)) == 0;
}

}  // namespace

NonceBook::NonceBook(std::int64_t lifetimeSeconds) : lifetime_(lifetimeSeconds * 1000) {
    randombytes_buf(current_.data(), current_.size());
    randombytes_buf(previous_.data(), previous_.size());
}

void NonceBook::rotate(std::int64_t now) {
    if (!currentSince_) currentSince_ = now;
    if (now - *currentSince_ < lifetime_) return;
    // After a long quiet spell both secrets are stale; replace both.
    previous_ = current_;
    if (now - *currentSince_ >= 2 * lifetime_) randombytes_buf(previous_.data(), previous_.size());
    randombytes_buf(current_.data(), current_.size());
    currentSince_ = now;
}

NonceText NonceBook::issue(std::string_view client, double difficulty, std::int64_t now) {
    NonceBytes nonce{};
    putU64(nonce.data(), static_cast<std::uint64_t>(now));
    putU64(nonce.data() + 8, std::bit_cast<std::uint64_t>(difficulty));
    randombytes_buf(nonce.data() + 16, 16);
    {
        std::lock_guard lock(mutex_);
        rotate(now);
        sign(current_, client, nonce.data(),
             reinterpret_cast<unsigned char*>(nonce.data()) + factsBytes);
    }
    NonceText text{};
    (void)encodeBase64Url(nonce, text);
    return text;
}

std::expected<NonceFacts, GateFault> NonceBook::check(std::string_view text,
                                                      std::string_view client, std::int64_t now) {
    NonceBytes nonce{};
    auto decoded = text.size() == nonceChars ? decodeBase64Url(text, nonce) : std::nullopt;
    if (!decoded || *decoded != nonceBytes) return std::unexpected(GateFault::BadNonce);
    bool genuine = false;
    {
        std::lock_guard lock(mutex_);
        rotate(now);
        genuine = signedBy(current_, client, nonce) || signedBy(previous_, client, nonce);
    }
    if (!genuine) return std::unexpected(GateFault::BadNonce);
    NonceFacts facts;
    facts.issuedAtMillis = static_cast<std::int64_t>(getU64(nonce.data()));
    facts.difficulty = std::bit_cast<double>(getU64(nonce.data() + 8));
    std::memcpy(facts.id.data(), nonce.data() + 16, facts.id.size());
    if (facts.issuedAtMillis > now) return std::unexpected(GateFault::BadNonce);
    if (now - facts.issuedAtMillis >= lifetime_) return std::unexpected(GateFault::ExpiredNonce);
    return facts;
}

}  // namespace vorn
