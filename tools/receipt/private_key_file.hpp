#pragma once

#include <string>
#include <string_view>

#include "arguments.hpp"
#include "receipt/token_signer.hpp"

namespace vorn::tool {

// A private key file: one line "KID SEED" (SEED the 43-character unpadded
// base64url of the 32-byte Ed25519 seed) and a newline. The challenge
// issuer reads the same format.
struct PrivateKey {
    std::string kid;
    SigningSeed seed{};
};

// Creates `path` with mode 0600 and writes the key; refuses a file that
// already exists.
[[nodiscard]] Result<void> writePrivateKeyFile(const std::string& path, const PrivateKey& key);

[[nodiscard]] Result<PrivateKey> readPrivateKeyFile(const std::string& path);

}  // namespace vorn::tool
