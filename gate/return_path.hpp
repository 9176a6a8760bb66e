#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn::gate {

// The longest path the gate sends a visitor back to.
inline constexpr std::size_t maxReturnPath = 2048;

// `text` when it is a path on this same site that is safe to redirect to:
// it begins with one '/' (not "//" or "/\", which browsers read as another
// host), holds only printable ASCII without '\' and is not under the gate's
// own prefix (no loop). Nothing otherwise. Absent means "/".
[[nodiscard]] std::optional<std::string> safeReturnPath(std::optional<std::string_view> text);

}  // namespace vorn::gate
