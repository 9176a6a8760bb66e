#include "observe/log_line.hpp"

#include <algorithm>
#include <array>

#include "common/nanos.hpp"

namespace vorn {

namespace {

constexpr std::int64_t millisPerDay = 86'400'000;

struct CivilDate {
    std::int64_t year;
    unsigned month;  // 1-12
    unsigned day;    // 1-31
};

// Proleptic Gregorian date of a day count since 1970-01-01, negative counts
// included. Works in 400-year eras of 146,097 days, with years starting on
// 1 March so that the leap day ends the year.
CivilDate civilFromDays(std::int64_t days) {
    const std::int64_t shifted = days + 719'468;  // days since 0000-03-01
    const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146'096) / 146'097;
    const auto dayOfEra = static_cast<unsigned>(shifted - era * 146'097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned marchMonth = (5 * dayOfYear + 2) / 153;  // 0 = March
    const unsigned day = dayOfYear - (153 * marchMonth + 2) / 5 + 1;
    const unsigned month = marchMonth < 10 ? marchMonth + 3 : marchMonth - 9;
    const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
    return {year, month, day};
}

void writePadded(TextWriter& out, std::uint64_t value, std::size_t width) {
    std::array<char, 24> digits{};
    std::size_t length = 0;
    do {
        digits[length++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (length < width) digits[length++] = '0';
    std::reverse(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(length));
    out.text(std::string_view(digits.data(), length));
}

void writeYear(TextWriter& out, std::int64_t year) {
    if (year < 0) out.byte('-');
    // The magnitude is at most about 300 million: negating cannot overflow.
    writePadded(out, static_cast<std::uint64_t>(year < 0 ? -year : year), 4);
}

[[nodiscard]] bool needsQuotes(std::string_view value) {
    if (value.empty()) return true;
    return std::any_of(value.begin(), value.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == '"' || byte == '=' || byte == '\\' || byte == 0x7F;
    });
}

// The escape for one byte inside quotes, or nothing when it is copied as is.
[[nodiscard]] std::string_view escapeOf(unsigned char byte, std::array<char, 4>& scratch) {
    constexpr std::string_view hex = "0123456789abcdef";
    switch (byte) {
        case '"':
            return "\\\"";
        case '\\':
            return "\\\\";
        case '\t':
            return "\\t";
        case '\n':
            return "\\n";
        default:
            break;
    }
    if (byte >= 0x20 && byte != 0x7F) return {};
    scratch = {'\\', 'x', hex[byte >> 4], hex[byte & 0x0F]};
    return {scratch.data(), scratch.size()};
}

}  // namespace

void writeTimestamp(TextWriter& out, std::int64_t millisSinceEpoch) {
    // Remainder first, so that the day count never overflows near the limits.
    std::int64_t millisOfDay = millisSinceEpoch % millisPerDay;
    std::int64_t days = millisSinceEpoch / millisPerDay;
    if (millisOfDay < 0) {
        millisOfDay += millisPerDay;
        --days;
    }
    const CivilDate date = civilFromDays(days);
    const auto millis = static_cast<std::uint64_t>(millisOfDay);
    writeYear(out, date.year);
    out.byte('-');
    writePadded(out, date.month, 2);
    out.byte('-');
    writePadded(out, date.day, 2);
    out.byte('T');
    writePadded(out, millis / 3'600'000, 2);
    out.byte(':');
    writePadded(out, millis / 60'000 % 60, 2);
    out.byte(':');
    writePadded(out, millis / 1000 % 60, 2);
    out.byte('.');
    writePadded(out, millis % 1000, 3);
    out.byte('Z');
}

void writeEncodedValue(TextWriter& out, std::string_view value) {
    if (!needsQuotes(value)) {
        out.text(value);
        return;
    }
    out.byte('"');
    std::array<char, 4> scratch{};
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        std::string_view escape = escapeOf(static_cast<unsigned char>(value[i]), scratch);
        if (escape.empty()) continue;
        out.text(value.substr(runStart, i - runStart)).text(escape);
        runStart = i + 1;
    }
    out.text(value.substr(runStart)).byte('"');
}

void LogLine::begin(LogLevel level, std::int64_t millisSinceEpoch) {
    clear();
    text("ts=");
    writeTimestamp(*this, millisSinceEpoch);
    text(" level=").text(logLevelName(level));
}

void LogLine::begin(LogLevel level) {
    begin(level, wallClockMillis());
}

void LogLine::pair(std::string_view key, std::string_view value) {
    byte(' ').text(key).byte('=');
    writeEncodedValue(*this, value);
}

}  // namespace vorn
