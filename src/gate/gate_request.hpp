#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

#include "gate/gate_fault.hpp"

namespace vorn {

// Limits that keep one request small: the gate's requests are a page fetch
// and a three-field form, both far below them.
inline constexpr std::size_t maxHeadBytes = 8192;
inline constexpr std::size_t maxHeaderLines = 64;
inline constexpr std::size_t maxBodyBytes = 4096;

struct HeaderField {
    std::string_view name;   // as sent
    std::string_view value;  // trimmed
};

// How the body is delimited.
enum class BodyFraming : std::uint8_t { none, length, chunked };

// One request as read, every field a view into the connection's input.
struct GateRequest {
    std::string_view method{};
    std::string_view path{};   // the target up to '?'
    std::string_view query{};  // after '?', still percent-encoded
    std::array<HeaderField, maxHeaderLines> fields{};
    std::size_t fieldCount = 0;
    BodyFraming framing = BodyFraming::none;
    std::size_t contentLength = 0;  // with BodyFraming::length
    std::string_view body{};

    // The value of the only header named `name` (lower case; names compare
    // without regard to case); nothing when absent or given more than once,
    // so that a duplicate cannot pick a side.
    [[nodiscard]] std::optional<std::string_view> header(std::string_view name) const;
    // True when some Cookie header holds a cookie named `name`.
    [[nodiscard]] bool hasCookie(std::string_view name) const;
};

// Reads the request head (request line and header lines, without the empty
// line that ends it) into `request`. Accepts HTTP/1.0 and HTTP/1.1 and an
// origin-form target; refuses folded lines and bytes below 0x20 other than
// TAB (BadHttp). The body is framed by one decimal Content-Length of at most
// maxBodyBytes (TooLarge past it) or by "Transfer-Encoding: chunked";
// another coding, or both headers at once, is BadTransferEncoding.
[[nodiscard]] std::expected<void, GateFault> parseRequestHead(std::string_view head,
                                                              GateRequest& request);

}  // namespace vorn
