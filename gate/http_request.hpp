#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gate_fault.hpp"

namespace vorn::gate {

// Limits that keep one request small: the gate's requests are a page fetch
// and a three-field form, both far below them.
inline constexpr std::size_t maxHeadBytes = 8192;
inline constexpr std::size_t maxHeaderLines = 64;
inline constexpr std::size_t maxBodyBytes = 4096;

// One parsed request. Header names are lower case, values trimmed.
struct HttpRequest {
    std::string method{};
    std::string path{};   // the target up to '?'
    std::string query{};  // after '?', still percent-encoded
    std::vector<std::pair<std::string, std::string>> headers{};
    std::string body{};

    // The value of the only header named `name` (lower case); nothing when
    // absent or given more than once, so a duplicate cannot pick a side.
    [[nodiscard]] std::optional<std::string_view> header(std::string_view name) const;
};

// Parses the request head (request line and header lines, without the empty
// line that ends it). Accepts HTTP/1.0 and HTTP/1.1, an origin-form target,
// and refuses folded lines, bytes below 0x20 other than TAB, and a
// Transfer-Encoding (the gate reads Content-Length bodies only).
[[nodiscard]] std::expected<HttpRequest, Fault> parseHttpHead(std::string_view head);

// The body length the head announces: 0 without Content-Length; BadHttp for
// one that is not decimal or given twice, TooLarge past maxBodyBytes.
[[nodiscard]] std::expected<std::size_t, Fault> bodyLength(const HttpRequest& request);

}  // namespace vorn::gate
