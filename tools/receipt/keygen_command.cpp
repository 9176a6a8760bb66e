#include <sodium.h>

#include <array>
#include <cstdio>
#include <string>

#include "commands.hpp"
#include "token/key_id.hpp"
#include "token/private_key_file.hpp"

namespace vorn::tool {

// keygen KID [--out FILE]: writes a new private key file (default KID.key)
// and prints the key-file line with the public key.
Result<void> keygenCommand(std::span<char* const> words) {
    static constexpr std::array<std::string_view, 1> known = {"--out"};
    auto arguments = parseArguments(words, known);
    if (!arguments) return std::unexpected(arguments.error());
    if (arguments->positional.size() != 1) return std::unexpected("keygen needs one KID");
    const std::string_view kid = arguments->positional.front();
    if (!isKeyId(kid)) {
        return std::unexpected("KID must be 1 to 128 bytes of A-Z a-z 0-9 - . : _");
    }
    const std::string path(arguments->option("--out").value_or(std::string(kid) + ".key"));

    PrivateKey key;
    key.kid = kid;
    randombytes_buf(key.seed.data(), key.seed.size());
    auto written = writePrivateKeyFile(path, key);
    const std::string publicKey = publicKeyText(key.seed);
    sodium_memzero(key.seed.data(), key.seed.size());
    if (!written) return written;
    std::printf("%s %s\n", key.kid.c_str(), publicKey.c_str());
    return {};
}

}  // namespace vorn::tool
