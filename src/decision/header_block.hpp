#pragma once

#include <optional>
#include <string_view>

#include "decision/request_facts.hpp"

namespace vorn {

// Reads the request header lines HAProxy sends as one text (lines end in
// CR LF) into `facts`: Host, Sec-Fetch-Site, Referer, Authorization and the
// session cookie `sessionCookie` and the pass cookie. Other headers are
// ignored; a later line replaces an earlier one of the same name, and
// `authed` only ever turns true. The facts view `block`.
void readHeaderBlock(std::string_view block, std::string_view sessionCookie, RequestFacts& facts);

// The value of the first piece of a Cookie header value that is `name`, '='
// and at least one byte; nothing when no piece is. Names are case-sensitive.
[[nodiscard]] std::optional<std::string_view> findCookie(std::string_view cookieHeaderValue,
                                                         std::string_view name);

}  // namespace vorn
