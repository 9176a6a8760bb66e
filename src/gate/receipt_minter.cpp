#include "gate/receipt_minter.hpp"

#include <sodium.h>

#include <algorithm>
#include <cstring>

#include "token/base64url.hpp"
#include "token/contract.hpp"

namespace vorn {

namespace {

constexpr std::size_t maxHostLength = 255;
constexpr std::size_t signatureBytes = crypto_sign_BYTES;

std::span<const std::byte> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

void writeRandomJti(TextWriter& out) {
    std::array<unsigned char, jtiHexDigits / 2> bytes{};
    randombytes_buf(bytes.data(), bytes.size());
    std::array<char, jtiHexDigits + 1> hex{};
    sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
    out.text(std::string_view(hex.data(), jtiHexDigits));
}

}  // namespace

bool isPlainHost(std::string_view host) {
    return !host.empty() && host.size() <= maxHostLength && std::ranges::all_of(host, [](char c) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        return alnum || c == '-' || c == '.' || c == ':' || c == '[' || c == ']';
    });
}

void ReceiptMinter::derive(const PrivateKey& key, SigningKey& into) {
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
    crypto_sign_seed_keypair(publicKey.data(), into.secretKey.data(),
                             reinterpret_cast<const unsigned char*>(key.seed.data()));
    // The kid was checked when the key file was read: no JSON escaping.
    FixedText<maxKeyIdLength + 32> header;
    header.text("{\"alg\":\"EdDSA\",\"kid\":\"").text(key.kid).text("\"}");
    into.headerLength = encodeBase64Url(bytesOf(header.view()), into.headerSegment).value_or(0);
    into.kidLength = key.kid.copy(into.kid.data(), into.kid.size());
}

ReceiptMinter::ReceiptMinter(const PrivateKey& key, std::int64_t lifetimeSeconds)
    : lifetime_(lifetimeSeconds) {
    derive(key, key_);
}

ReceiptMinter::~ReceiptMinter() {
    sodium_memzero(key_.secretKey.data(), key_.secretKey.size());
}

void ReceiptMinter::replaceKey(const PrivateKey& key) {
    SigningKey next;
    derive(key, next);
    {
        std::lock_guard lock(mutex_);
        key_ = next;
    }
    sodium_memzero(next.secretKey.data(), next.secretKey.size());
}

std::expected<std::string_view, GateFault> ReceiptMinter::mint(std::string_view host,
                                                               double difficulty,
                                                               std::int64_t nowSeconds,
                                                               ReceiptText& out) const {
    if (!isPlainHost(host)) return std::unexpected(GateFault::BadHost);
    FixedText<maxHostLength + 128> payload;
    payload.text("{\"aud\":\"").text(host).text("\",\"diff\":").decimal(difficulty);
    payload.text(",\"exp\":").number(nowSeconds + lifetime_).text(",\"jti\":\"");
    writeRandomJti(payload);
    payload.text("\"}");
    const std::size_t payloadChars = base64UrlEncodedLength(payload.size());

    std::lock_guard lock(mutex_);
    const std::size_t signingInput = key_.headerLength + 1 + payloadChars;
    if (signingInput > maxSigningInputLength) return std::unexpected(GateFault::TokenTooLong);
    std::memcpy(out.data(), key_.headerSegment.data(), key_.headerLength);
    out[key_.headerLength] = '.';
    (void)encodeBase64Url(bytesOf(payload.view()),
                          std::span(out).subspan(key_.headerLength + 1, payloadChars));
    std::array<unsigned char, signatureBytes> signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<unsigned char*>(out.data()),
                         signingInput, key_.secretKey.data());
    out[signingInput] = '.';
    (void)encodeBase64Url(std::as_bytes(std::span(signature)),
                          std::span(out).subspan(signingInput + 1, signatureSegmentLength));
    return std::string_view(out.data(), signingInput + 1 + signatureSegmentLength);
}

void ReceiptMinter::writeCookie(TextWriter& out, std::string_view token, bool secure) const {
    out.text(passCookie).byte('=').text(token).text("; Max-Age=").number(lifetime_);
    out.text("; Path=/").text(secure ? "; Secure" : "").text("; HttpOnly; SameSite=Lax");
}

void ReceiptMinter::writeKeyId(TextWriter& out) const {
    std::lock_guard lock(mutex_);
    out.text(std::string_view(key_.kid.data(), key_.kidLength));
}

}  // namespace vorn
