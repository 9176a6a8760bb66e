#include "common/wyhash.hpp"

namespace vorn {

namespace {

constexpr std::uint64_t secret0 = 0xa0761d6478bd642full;
constexpr std::uint64_t secret1 = 0xe7037ed1a0b428dbull;
constexpr std::uint64_t secret2 = 0x8ebc6af09c88c6e3ull;
constexpr std::uint64_t secret3 = 0x589965cc75374cc3ull;

__extension__ using Wide = unsigned __int128;

void multiply(std::uint64_t& a, std::uint64_t& b) {
    Wide product = Wide{a} * b;
    a = static_cast<std::uint64_t>(product);
    b = static_cast<std::uint64_t>(product >> 64);
}

std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
    multiply(a, b);
    return a ^ b;
}

// Little-endian reads, whatever the host's byte order.
std::uint64_t read(const unsigned char* p, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

std::uint64_t read8(const unsigned char* p) {
    return read(p, 8);
}
std::uint64_t read4(const unsigned char* p) {
    return read(p, 4);
}

std::uint64_t read3(const unsigned char* p, std::size_t k) {
    return (std::uint64_t{p[0]} << 16) | (std::uint64_t{p[k >> 1]} << 8) | p[k - 1];
}

}  // namespace

std::uint64_t wyhash(std::string_view bytes, std::uint64_t seed) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t length = bytes.size();
    seed ^= mix(seed ^ secret0, secret1);
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    if (length <= 16) {
        if (length >= 4) {
            std::size_t shift = (length >> 3) << 2;
            a = (read4(p) << 32) | read4(p + shift);
            b = (read4(p + length - 4) << 32) | read4(p + length - 4 - shift);
        } else if (length > 0) {
            a = read3(p, length);
        }
    } else {
        std::size_t i = length;
        if (i > 48) {
            std::uint64_t see1 = seed;
            std::uint64_t see2 = seed;
            do {
                seed = mix(read8(p) ^ secret1, read8(p + 8) ^ seed);
                see1 = mix(read8(p + 16) ^ secret2, read8(p + 24) ^ see1);
                see2 = mix(read8(p + 32) ^ secret3, read8(p + 40) ^ see2);
                p += 48;
                i -= 48;
            } while (i > 48);
            seed ^= see1 ^ see2;
        }
        while (i > 16) {
            seed = mix(read8(p) ^ secret1, read8(p + 8) ^ seed);
            i -= 16;
            p += 16;
        }
        a = read8(p + i - 16);
        b = read8(p + i - 8);
    }
    a ^= secret1;
    b ^= seed;
    multiply(a, b);
    return mix(a ^ secret0 ^ length, b ^ secret1);
}

}  // namespace vorn
