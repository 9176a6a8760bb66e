#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace vorn {

// Bytes an unpadded base64url text of `characters` characters decodes to.
[[nodiscard]] constexpr std::size_t base64UrlDecodedLength(std::size_t characters) {
    return 3 * (characters / 4) + (3 * (characters % 4)) / 4;
}

// Characters of the unpadded base64url text of `bytes` bytes.
[[nodiscard]] constexpr std::size_t base64UrlEncodedLength(std::size_t bytes) {
    return 4 * (bytes / 3) + (4 * (bytes % 3) + 2) / 3;
}

// Decodes unpadded base64url (A-Z a-z 0-9 - _) into `out` and returns the
// number of bytes written. Strict, so that every byte string has exactly one
// accepted spelling: `=`, any byte outside the alphabet, a length of 1 modulo
// 4, non-zero bits left over after the last byte, or an `out` too small all
// give nothing. Allocates nothing.
[[nodiscard]] std::optional<std::size_t> decodeBase64Url(std::string_view text,
                                                         std::span<std::byte> out);

// Encodes `bytes` as unpadded base64url into `out` and returns the number of
// characters written, or nothing when `out` is too small.
[[nodiscard]] std::optional<std::size_t> encodeBase64Url(std::span<const std::byte> bytes,
                                                         std::span<char> out);

}  // namespace vorn
