#pragma once

#include <cstddef>
#include <expected>
#include <span>
#include <string_view>

#include "common/error.hpp"

namespace vorn {

// Readies the signature library; call once before the first check or key
// generation (idempotent). Unexpected when the library cannot start.
[[nodiscard]] std::expected<void, Error> prepareSignatures();

// True when the 32 bytes encode y below 2^255 - 19 (the sign bit, the top
// bit of the last byte, is ignored): the one canonical spelling of a point.
[[nodiscard]] bool isCanonicalPublicKey(std::span<const std::byte, 32> key);

// Ed25519 (pure, no context) check of `signature` over `message` with
// `publicKey`. False for a message over 320 bytes or a non-canonical key.
// Thread-safe; meant for the verification workers, never the loop thread.
[[nodiscard]] bool verifyReceiptSignature(std::string_view message,
                                          std::span<const std::byte, 64> signature,
                                          std::span<const std::byte, 32> publicKey);

}  // namespace vorn
