#include "common/decimal.hpp"

#include <charconv>
#include <cmath>

namespace vorn {

namespace {

std::optional<std::string_view> copyWord(std::string_view word, std::span<char> out) {
    if (word.size() > out.size()) return std::nullopt;
    word.copy(out.data(), word.size());
    return std::string_view(out.data(), word.size());
}

}  // namespace

std::optional<std::string_view> formatDecimal(double value, std::span<char> out) {
    if (std::isnan(value)) return copyWord("nan", out);
    if (std::isinf(value)) return copyWord(value > 0 ? "inf" : "-inf", out);
    auto [end, ec] =
        std::to_chars(out.data(), out.data() + out.size(), value, std::chars_format::fixed);
    if (ec != std::errc{}) return std::nullopt;
    return std::string_view(out.data(), static_cast<std::size_t>(end - out.data()));
}

}  // namespace vorn
