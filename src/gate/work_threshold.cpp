#include "gate/work_threshold.hpp"

#include <sodium.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "common/decimal.hpp"

namespace vorn {

std::optional<double> parseDifficulty(std::string_view text) {
    auto value = parseDecimal(text, std::chars_format::fixed);
    if (!value || !(*value >= minDifficulty && *value <= maxDifficulty)) return std::nullopt;
    return *value;
}

Number256 workBound(double difficulty) {
    // difficulty = mantissa x 2^(exponent - 53) with a 53-bit whole mantissa,
    // so the bound is mantissa shifted left by 256 + exponent - 53 bits,
    // which the range keeps between 140 and 193.
    int exponent = 0;
    const double fraction = std::frexp(difficulty, &exponent);
    auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    const int shift = 256 + exponent - 53;
    Number256 bound{};
    for (int bit = 0; bit < 53; ++bit) {
        if (((mantissa >> bit) & 1U) == 0) continue;
        const int position = shift + bit;  // from the least significant end
        const auto byte = static_cast<std::size_t>(31 - position / 8);
        bound[byte] |= static_cast<std::byte>(1U << (position % 8));
    }
    return bound;
}

Hex256 hexDigits(const Number256& number) {
    std::array<char, 65> hex{};
    sodium_bin2hex(hex.data(), hex.size(), reinterpret_cast<const unsigned char*>(number.data()),
                   number.size());
    Hex256 digits{};
    std::copy_n(hex.begin(), digits.size(), digits.begin());
    return digits;
}

Number256 workDigest(std::string_view nonce, std::string_view counter) {
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(nonce.data()),
                              nonce.size());
    crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(counter.data()),
                              counter.size());
    Number256 digest{};
    crypto_hash_sha256_final(&state, reinterpret_cast<unsigned char*>(digest.data()));
    return digest;
}

bool belowBound(const Number256& digest, const Number256& bound) {
    // sodium_compare is constant-time but reads little-endian numbers.
    Number256 a = digest;
    Number256 b = bound;
    std::ranges::reverse(a);
    std::ranges::reverse(b);
    return sodium_compare(reinterpret_cast<const unsigned char*>(a.data()),
                          reinterpret_cast<const unsigned char*>(b.data()), a.size()) < 0;
}

}  // namespace vorn
