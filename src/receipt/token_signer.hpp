#pragma once

#include <array>
#include <cstddef>
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

// `bytes` in unpadded base64url.
[[nodiscard]] std::string base64UrlText(std::span<const std::byte> bytes);

}  // namespace vorn
