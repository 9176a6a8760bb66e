#include "token/signature.hpp"

#include <sodium.h>

#include <algorithm>

#include "token/receipt.hpp"

namespace vorn {

std::expected<void, Error> prepareSignatures() {
    if (sodium_init() < 0) return std::unexpected(Error::Unexpected);
    return {};
}

bool isCanonicalPublicKey(std::span<const std::byte, 32> key) {
    // 2^255 - 19 little-endian is ed ff .. ff 7f; anything from there up to
    // 2^255 - 1 has all middle bytes ff.
    const auto top = std::to_integer<unsigned>(key[31]) & 0x7f;
    if (top != 0x7f) return true;
    const bool middleAllOnes =
        std::ranges::all_of(key.subspan(1, 30), [](std::byte b) { return b == std::byte{0xff}; });
    return !middleAllOnes || std::to_integer<unsigned>(key[0]) < 0xed;
}

bool verifyReceiptSignature(std::string_view message, std::span<const std::byte, 64> signature,
                            std::span<const std::byte, 32> publicKey) {
    if (message.size() > maxSigningInputLength || !isCanonicalPublicKey(publicKey)) return false;
    // libsodium refuses S at or above the group order and A or R that do not
    // decode; it also refuses every small-order A and R, not only the neutral
    // point. Those keys and signatures cannot come from an honest signer, so
    // the stricter answer stays.
    return crypto_sign_verify_detached(
               reinterpret_cast<const unsigned char*>(signature.data()),
               reinterpret_cast<const unsigned char*>(message.data()), message.size(),
               reinterpret_cast<const unsigned char*>(publicKey.data())) == 0;
}

}  // namespace vorn
