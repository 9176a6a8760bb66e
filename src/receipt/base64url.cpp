#include "receipt/base64url.hpp"

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

std::optional<std::size_t> decodeBase64Url(std::string_view text, std::span<std::byte> out) {
    if (text.size() % 4 == 1) return std::nullopt;
    const std::size_t length = base64UrlDecodedLength(text.size());
    if (length > out.size()) return std::nullopt;

    std::uint32_t bits = 0;
    unsigned pending = 0;
    std::size_t written = 0;
    for (char c : text) {
        const std::uint8_t sextet = sextets[static_cast<unsigned char>(c)];
        if (sextet == notInAlphabet) return std::nullopt;
        bits = (bits << 6) | sextet;
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            out[written++] = static_cast<std::byte>((bits >> pending) & 0xff);
        }
    }
    // 2 or 4 bits stay behind after a partial group; they must be zero.
    if ((bits & ((1u << pending) - 1)) != 0) return std::nullopt;
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
