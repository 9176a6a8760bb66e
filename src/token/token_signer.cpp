#include "token/token_signer.hpp"

#include <sodium.h>

#include <cstdio>
#include <new>

#include "token/base64url.hpp"
#include "token/receipt.hpp"

namespace vorn {

namespace {

struct KeyPair {
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
    KeyPair() = default;
    KeyPair(const KeyPair&) = delete;
    KeyPair& operator=(const KeyPair&) = delete;
    ~KeyPair() { sodium_memzero(secretKey.data(), secretKey.size()); }
};

void derive(const SigningSeed& seed, KeyPair& pair) {
    crypto_sign_seed_keypair(pair.publicKey.data(), pair.secretKey.data(),
                             reinterpret_cast<const unsigned char*>(seed.data()));
}

std::span<const std::byte> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

std::string randomJti() {
    std::array<unsigned char, jtiHexDigits / 2> bytes{};
    randombytes_buf(bytes.data(), bytes.size());
    std::array<char, jtiHexDigits + 1> hex{};
    sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
    return std::string(hex.data(), jtiHexDigits);
}

}  // namespace

std::string base64UrlText(std::span<const std::byte> bytes) {
    std::string text(base64UrlEncodedLength(bytes.size()), '\0');
    (void)encodeBase64Url(bytes, text);
    return text;
}

std::string publicKeyText(const SigningSeed& seed) {
    KeyPair pair;
    derive(seed, pair);
    return base64UrlText(std::as_bytes(std::span(pair.publicKey)));
}

std::expected<std::string, Error> signToken(std::string_view headerJson,
                                            std::string_view payloadJson, const SigningSeed& seed) {
    try {
        std::string token =
            base64UrlText(bytesOf(headerJson)) + "." + base64UrlText(bytesOf(payloadJson));
        KeyPair pair;
        derive(seed, pair);
        std::array<unsigned char, crypto_sign_BYTES> signature{};
        crypto_sign_detached(signature.data(), nullptr,
                             reinterpret_cast<const unsigned char*>(token.data()), token.size(),
                             pair.secretKey.data());
        token += '.';
        token += base64UrlText(std::as_bytes(std::span(signature)));
        return token;
    } catch (const std::bad_alloc&) {
        return std::unexpected(Error::OutOfMemory);
    }
}

std::string jsonString(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            std::array<char, 7> escape{};
            std::snprintf(escape.data(), escape.size(), "\\u%04x", byte);
            quoted += escape.data();
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::expected<std::string, Error> mintReceipt(const SigningSeed& seed, std::string_view kid,
                                              std::string_view aud, std::string_view diffJson,
                                              std::int64_t exp) {
    try {
        const std::string header = "{\"alg\":\"EdDSA\",\"kid\":" + jsonString(kid) + "}";
        const std::string payload =
            "{\"aud\":" + jsonString(aud) + ",\"diff\":" + std::string(diffJson) +
            ",\"exp\":" + std::to_string(exp) + ",\"jti\":\"" + randomJti() + "\"}";
        return signToken(header, payload, seed);
    } catch (const std::bad_alloc&) {
        return std::unexpected(Error::OutOfMemory);
    }
}

}  // namespace vorn
