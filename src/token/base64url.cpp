#include "token/base64url.hpp"

#include <array>
#include <cstdint>

namespace vorn {

namespace {

constexpr std::string_view alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr std::uint8_t notInAlphabet = 0xff;

constexpr std::array<std::uint8_t, 256> makeSextets() {
    std::array<std::uint8_t, 256> sextets{};
    sextets.fill(notInAlphabet);
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        sextets[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return sextets;
}

constexpr std::array<std::uint8_t, 256> sextets = makeSextets();

}  // namespace

// Four characters at a time: each group of four is three bytes on its own,
// so groups do not wait on each other. A character outside the alphabet
// maps to a value with the top bit set, which the OR of the four keeps.
std::optional<std::size_t> decodeBase64Url(std::string_view text, std::span<std::byte> out) {
    if (text.size() % 4 == 1) return std::nullopt;
    const std::size_t length = base64UrlDecodedLength(text.size());
    if (length > out.size()) return std::nullopt;

    auto sextet = [&](std::size_t at) -> std::uint32_t {
        return sextets[static_cast<unsigned char>(text[at])];
    };
    std::size_t written = 0;
    std::size_t at = 0;
    for (; at + 4 <= text.size(); at += 4) {
        const std::uint32_t a = sextet(at), b = sextet(at + 1), c = sextet(at + 2),
                            d = sextet(at + 3);
        if (((a | b | c | d) & 0x80) != 0) return std::nullopt;
        const std::uint32_t bits = (a << 18) | (b << 12) | (c << 6) | d;
        out[written++] = static_cast<std::byte>(bits >> 16);
        out[written++] = static_cast<std::byte>(bits >> 8);
        out[written++] = static_cast<std::byte>(bits);
    }
    // A partial group of two or three characters holds one or two bytes;
    // the 4 or 2 bits left over must be zero.
    const std::size_t rest = text.size() - at;
    if (rest == 0) return written;
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < rest; ++i) {
        const std::uint32_t s = sextet(at + i);
        if ((s & 0x80) != 0) return std::nullopt;
        bits = (bits << 6) | s;
    }
    const unsigned spare = rest == 2 ? 4 : 2;
    if ((bits & ((1u << spare) - 1)) != 0) return std::nullopt;
    bits >>= spare;
    if (rest == 3) out[written++] = static_cast<std::byte>(bits >> 8);
    out[written++] = static_cast<std::byte>(bits);
    return written;
}

std::optional<std::size_t> encodeBase64Url(std::span<const std::byte> bytes, std::span<char> out) {
    const std::size_t length = base64UrlEncodedLength(bytes.size());
    if (length > out.size()) return std::nullopt;

    std::uint32_t bits = 0;
    unsigned pending = 0;
    std::size_t written = 0;
    for (std::byte b : bytes) {
        bits = (bits << 8) | std::to_integer<std::uint32_t>(b);
        pending += 8;
        while (pending >= 6) {
            pending -= 6;
            out[written++] = alphabet[(bits >> pending) & 0x3f];
        }
    }
    if (pending > 0) out[written++] = alphabet[(bits << (6 - pending)) & 0x3f];
    return written;
}

}  // namespace vorn
