#include "common/decimal.hpp"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace vorn {

namespace {

std::optional<std::string_view> copyWord(std::string_view word, std::span<char> out) {
    if (word.size() > out.size()) return std::nullopt;
    word.copy(out.data(), word.size());
    return std::string_view(out.data(), word.size());
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t skipDigits(std::string_view text, std::size_t at) {
    while (at < text.size() && isDigit(text[at])) ++at;
    return at;
}

// Whether `text` is a sign, digits, a fraction and an exponent as
// std::from_chars takes them.
bool hasDecimalShape(std::string_view text, bool exponentAllowed) {
    std::size_t at = text.starts_with('-') ? 1 : 0;
    std::size_t end = skipDigits(text, at);
    std::size_t digits = end - at;
    if (end < text.size() && text[end] == '.') {
        std::size_t fractionEnd = skipDigits(text, end + 1);
        digits += fractionEnd - end - 1;
        end = fractionEnd;
    }
    if (digits == 0) return false;
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        if (!exponentAllowed) return false;
        std::size_t exponent = end + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) {
            ++exponent;
        }
        end = skipDigits(text, exponent);
        if (end == exponent) return false;
    }
    return end == text.size();
}

bool equalsIgnoringCase(std::string_view text, std::string_view lowerWord) {
    if (text.size() != lowerWord.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerWord[i]) return false;
    }
    return true;
}

std::optional<double> specialValue(std::string_view text) {
    const bool negative = text.starts_with('-');
    if (negative) text.remove_prefix(1);
    double value = 0;
    if (equalsIgnoringCase(text, "inf") || equalsIgnoringCase(text, "infinity")) {
        value = std::numeric_limits<double>::infinity();
    } else if (equalsIgnoringCase(text, "nan")) {
        value = std::numeric_limits<double>::quiet_NaN();
    } else {
        return std::nullopt;
    }
    return negative ? -value : value;
}

}  // namespace

std::expected<double, DecimalFault> parseDecimal(std::string_view text, std::chars_format format) {
    if (auto special = specialValue(text)) return *special;
    if (text.size() > maxDecimalLength ||
        !hasDecimalShape(text, format != std::chars_format::fixed)) {
        return std::unexpected(DecimalFault::notANumber);
    }
    // strtod wants a terminated copy. The shape is checked, so what it
    // reads is exactly the text; none of our programs changes the locale,
    // so '.' is the decimal point.
    std::array<char, maxDecimalLength + 1> copy{};
    text.copy(copy.data(), text.size());
    errno = 0;
    const double value = std::strtod(copy.data(), nullptr);
    if (errno == ERANGE) return std::unexpected(DecimalFault::outOfRange);
    return value;
}

std::optional<std::string_view> formatDecimal(double value, std::span<char> out) {
    if (std::isnan(value)) return copyWord("nan", out);
    if (std::isinf(value)) return copyWord(value > 0 ? "inf" : "-inf", out);
    auto [end, ec] =
        std::to_chars(out.data(), out.data() + out.size(), value, std::chars_format::fixed);
    if (ec != std::errc{}) return std::nullopt;
    return std::string_view(out.data(), static_cast<std::size_t>(end - out.data()));
}

}  // namespace vorn
