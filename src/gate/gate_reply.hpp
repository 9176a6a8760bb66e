#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "common/text_writer.hpp"
#include "gate/gate_fault.hpp"

namespace vorn {

// Room for the status line and headers in front of the body: the longest
// reply head is a 303 with a 2 KiB Location and a receipt cookie.
inline constexpr std::size_t replyHeadRoom = 4096;

// One response written in place into a connection's output buffer: the body
// from replyHeadRoom on, the head (status line, headers, Content-Length and
// "Connection: close", one request per connection) put right before it
// when finished. Nothing is allocated.
class GateReply {
public:
    // `buffer` holds more than replyHeadRoom bytes.
    explicit GateReply(std::span<char> buffer);
    GateReply(const GateReply&) = delete;
    GateReply& operator=(const GateReply&) = delete;

    void status(int code) { status_ = code; }
    [[nodiscard]] int status() const { return status_; }

    void header(std::string_view name, std::string_view value);
    // Starts a header line whose value the caller writes into the returned
    // writer; endHeader() ends it.
    [[nodiscard]] TextWriter& beginHeader(std::string_view name);
    void endHeader() { head_.text("\r\n"); }

    [[nodiscard]] TextWriter& body() { return body_; }

    // The whole response. A reply that did not fit becomes a plain 500.
    [[nodiscard]] std::string_view finish();

private:
    std::span<char> buffer_;
    int status_ = 200;
    FixedText<replyHeadRoom - 128> head_;  // the status and framing lines take the rest
    TextWriter body_;
};

// A plain-text reply: `text` as the body, not to be cached.
void plainReply(GateReply& reply, int status, std::string_view text);

// The refusal for `fault`: 400 (429 for too_many_challenges), the body
// "bad request: <name>" (or "too many requests: ...") and a newline.
void refuseReply(GateReply& reply, GateFault fault);

}  // namespace vorn
