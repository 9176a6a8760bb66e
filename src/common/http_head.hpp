#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace vorn {

// The CR LF CR LF that ends an HTTP request head.
inline constexpr std::string_view httpHeadEnd = "\r\n\r\n";

// Where the head in `received` ends (the offset of its CR LF CR LF), or
// nothing while it has not ended. The first `seen` bytes were searched
// before, so the search resumes just before them: a head that arrives a
// byte at a time costs no more than one that arrives whole.
[[nodiscard]] inline std::optional<std::size_t> findHttpHeadEnd(std::string_view received,
                                                                std::size_t seen) {
    const std::size_t from = seen > httpHeadEnd.size() - 1 ? seen - (httpHeadEnd.size() - 1) : 0;
    const std::size_t at = received.find(httpHeadEnd, from);
    if (at == std::string_view::npos) return std::nullopt;
    return at;
}

}  // namespace vorn
