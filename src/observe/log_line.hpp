#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/text_writer.hpp"
#include "observe/log_level.hpp"

namespace vorn {

// A log line never exceeds this many bytes before its newline; longer lines
// are cut.
inline constexpr std::size_t logLineCapacity = 4095;

// Writes a UTC time as 2024-02-29T23:59:59.999Z. Years are zero-padded to at
// least four digits; years before 0 carry a leading minus sign.
void writeTimestamp(TextWriter& out, std::int64_t millisSinceEpoch);

// Writes `value` as it stands when it is non-empty and holds no space,
// control byte, DEL, '"', '=' or '\'; otherwise between double quotes with
// '"', '\', TAB, LF and the other control bytes escaped.
void writeEncodedValue(TextWriter& out, std::string_view value);

// One log line of key=value pairs, built on the producer's stack.
class LogLine : public FixedText<logLineCapacity> {
public:
    // Starts the line afresh with "ts=<time> level=<level>".
    void begin(LogLevel level, std::int64_t millisSinceEpoch);
    void begin(LogLevel level);

    // Appends " key=" and the encoded value; the key is written unchanged.
    void pair(std::string_view key, std::string_view value);

    void raw(std::string_view text) { this->text(text); }
};

}  // namespace vorn
