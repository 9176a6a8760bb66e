#include "support/hex.hpp"

namespace vorn::test {

namespace {

std::optional<int> digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> fromHex(std::string_view hex) {
    std::string bytes;
    bool pairOpen = false;
    for (char c : hex) {
        if (c == ' ' && !pairOpen) continue;
        auto digit = digitValue(c);
        if (!digit) return std::nullopt;
        if (pairOpen) {
            bytes.back() = static_cast<char>(bytes.back() * 16 + *digit);
        } else {
            bytes.push_back(static_cast<char>(*digit));
        }
        pairOpen = !pairOpen;
    }
    if (pairOpen) return std::nullopt;
    return bytes;
}

std::string toHex(std::string_view bytes) {
    static constexpr std::string_view digits = "0123456789abcdef";
    std::string hex;
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        if (!hex.empty()) hex.push_back(' ');
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 0x0F]);
    }
    return hex;
}

}  // namespace vorn::test
