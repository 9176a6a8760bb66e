#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/error.hpp"
#include "token/receipt.hpp"

namespace vorn {

// The Ed25519 public keys whose receipts are accepted, by key identifier.
// Owns copies of the identifiers. Belongs to the loop thread.
class ReceiptKeySet {
public:
    // The key named `kid`, or null. Allocates nothing.
    [[nodiscard]] const PublicKey* lookup(std::string_view kid) const;
    [[nodiscard]] std::uint32_t size() const { return static_cast<std::uint32_t>(keys_.size()); }

    // False, leaving the set unchanged, when `kid` is already present. May
    // throw std::bad_alloc; parseReceiptKeys turns that into OutOfMemory.
    [[nodiscard]] bool insert(std::string_view kid, const PublicKey& key);

private:
    // Transparent, so that a lookup by string_view builds no string.
    struct KidHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view kid) const {
            return std::hash<std::string_view>{}(kid);
        }
    };
    std::unordered_map<std::string, PublicKey, KidHash, std::equal_to<>> keys_;
};

// Tells keys apart in little room: a receipt checked under one key must not
// pass for checked once its key id names another. Wyhash, seed 0; the keys
// are the operator's, so no one can aim for a collision.
[[nodiscard]] std::uint64_t keyDigest(const PublicKey& key);

// Reads a key file's text: LF-separated lines, each trimmed of space, TAB
// and CR; empty lines and lines starting with # are skipped; every other
// line is "KID KEY" (fields separated by runs of space and TAB), KID 1-128
// bytes of A-Z a-z 0-9 - . : _ and KEY the 43-character unpadded base64url
// of a canonically encoded 32-byte Ed25519 public key. BadKeyLine for any
// other line, DuplicateKeyId for a KID given twice, OutOfMemory when the set
// cannot be held.
[[nodiscard]] std::expected<ReceiptKeySet, Error> parseReceiptKeys(std::string_view text);

// Largest key file accepted.
inline constexpr std::size_t receiptKeyFileLimit = 65536;

// Reads the key file at `path` whole (at most receiptKeyFileLimit bytes) and
// parses it: the file-system error's name, or parseReceiptKeys's error.
[[nodiscard]] std::expected<ReceiptKeySet, Error> readReceiptKeys(std::string_view path);

}  // namespace vorn
