#include "gate/form_field.hpp"

namespace vorn {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string_view> percentDecode(std::string_view text, std::span<char> out) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (length == out.size()) return std::nullopt;
        if (text[i] == '+') {
            out[length++] = ' ';
        } else if (text[i] != '%') {
            out[length++] = text[i];
        } else {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            out[length++] = static_cast<char>(high * 16 + low);
            i += 2;
        }
    }
    return std::string_view(out.data(), length);
}

}  // namespace

std::expected<std::optional<std::string_view>, GateFault> formField(std::string_view text,
                                                                    std::string_view name,
                                                                    std::span<char> out) {
    std::optional<std::string_view> found;
    while (!text.empty()) {
        const std::size_t amp = text.find('&');
        const std::string_view pair = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        const std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) != name) continue;
        if (found) return std::unexpected(GateFault::BadForm);
        found = equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
    }
    if (!found) return std::nullopt;
    auto decoded = percentDecode(*found, out);
    if (!decoded) return std::unexpected(GateFault::BadForm);
    return decoded;
}

}  // namespace vorn
