#pragma once

#include <expected>
#include <string>

#include "token/token_signer.hpp"

namespace vorn {

// A private key file: one line "KID SEED" (SEED the 43-character unpadded
// base64url of the 32-byte Ed25519 seed) and a newline. Written by
// vorn-receipt keygen, read by vorn-receipt mint and by vorn-gate.
struct PrivateKey {
    std::string kid;
    SigningSeed seed{};
};

// Failures are a one-line message naming the file.
template <typename T>
using KeyFileResult = std::expected<T, std::string>;

// Creates `path` with mode 0600 and writes the key; refuses a file that
// already exists.
[[nodiscard]] KeyFileResult<void> writePrivateKeyFile(const std::string& path,
                                                      const PrivateKey& key);

[[nodiscard]] KeyFileResult<PrivateKey> readPrivateKeyFile(const std::string& path);

}  // namespace vorn
