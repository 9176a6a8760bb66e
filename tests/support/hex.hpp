#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn::test {

// Bytes from hexadecimal pairs; spaces between pairs are ignored, so worked
// examples can be copied as they are written ("00 00 00 22 66"). Nothing
// when a character is not a hex digit or a pair is incomplete.
[[nodiscard]] std::optional<std::string> fromHex(std::string_view hex);

// Lower-case hex pairs separated by spaces, for failure messages.
[[nodiscard]] std::string toHex(std::string_view bytes);

}  // namespace vorn::test
