#pragma once

#include <optional>
#include <string_view>

namespace vorn {

// The longest path the gate sends a visitor back to.
inline constexpr std::size_t maxReturnPath = 2048;

// `path` (decoded) when it is a path on this same site that is safe to
// redirect to: it begins with one '/' (not "//" or "/\", which browsers read
// as another host), holds only printable ASCII without '\' and is not under
// the gate's own prefix (no loop). Nothing otherwise. Absent means "/".
[[nodiscard]] std::optional<std::string_view> safeReturnPath(std::optional<std::string_view> path);

}  // namespace vorn
