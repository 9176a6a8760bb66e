#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "common/error.hpp"

namespace vorn {

// The 32-byte Ed25519 seed from which a signing key pair is derived; what a
// private key file holds.
using SigningSeed = std::array<std::byte, 32>;

// Builds the token header.payload.signature: both JSON texts in unpadded
// base64url, signed with the key pair of `seed`. Checks nothing about the
// JSON or the limits: tests use it to make malformed tokens too. For tools
// and tests, not the request path. OutOfMemory when the text cannot be held.
[[nodiscard]] std::expected<std::string, Error> signToken(std::string_view headerJson,
                                                          std::string_view payloadJson,
                                                          const SigningSeed& seed);

// The public key of `seed`, unpadded base64url (43 characters).
[[nodiscard]] std::string publicKeyText(const SigningSeed& seed);

// `text` as a JSON string literal, quotes and control bytes escaped.
[[nodiscard]] std::string jsonString(std::string_view text);

// A pass receipt for `aud` until `exp`, with a random jti, signed with the
// key pair of `seed` under `kid`; `diffJson` is the difficulty as a JSON
// number. Checks no limit: the caller does. OutOfMemory when the text
// cannot be held.
[[nodiscard]] std::expected<std::string, Error> mintReceipt(const SigningSeed& seed,
                                                            std::string_view kid,
                                                            std::string_view aud,
                                                            std::string_view diffJson,
                                                            std::int64_t exp);

// `bytes` in unpadded base64url.
[[nodiscard]] std::string base64UrlText(std::span<const std::byte> bytes);

}  // namespace vorn
