#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Reads the daemon's log lines ("ts=... level=... msg=..." and verdict
// lines), so that tests compare decoded values exactly. Strict on quoting: a
// value quoted without need, or left raw although it needs quotes, makes the
// line unreadable, since that is a fault of the writer.

namespace vorn::test {

using LogFields = std::vector<std::pair<std::string, std::string>>;

// The line's key=value pairs in order with their values decoded; nothing when
// the line does not begin with ts and level or breaks the quoting rules.
[[nodiscard]] std::optional<LogFields> logFields(std::string_view line);

// The decoded value of `key` in the line, if the line is readable and has it.
[[nodiscard]] std::optional<std::string> fieldOf(std::string_view line, std::string_view key);

// The decoded message of an ordinary line.
[[nodiscard]] std::optional<std::string> messageOf(std::string_view line);

}  // namespace vorn::test
