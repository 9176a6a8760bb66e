#include "gate/gate_reply.hpp"

#include <cstring>

namespace vorn {

namespace {

std::string_view reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 303:
            return "See Other";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 429:
            return "Too Many Requests";
        default:
            return "Internal Server Error";
    }
}

constexpr std::string_view overflowReply =
    "HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/plain; charset=utf-8\r\n"
    "Content-Length: 16\r\nConnection: close\r\n\r\nreply too large\n";

}  // namespace

GateReply::GateReply(std::span<char> buffer)
    : buffer_(buffer), body_(buffer.subspan(replyHeadRoom)) {}

void GateReply::header(std::string_view name, std::string_view value) {
    head_.text(name).text(": ").text(value).text("\r\n");
}

TextWriter& GateReply::beginHeader(std::string_view name) {
    return head_.text(name).text(": ");
}

std::string_view GateReply::finish() {
    if (head_.overflowed() || body_.overflowed()) return overflowReply;
    FixedText<128> framing;
    framing.text("Content-Length: ").number(body_.size()).text("\r\nConnection: close\r\n\r\n");
    FixedText<64> statusLine;
    statusLine.text("HTTP/1.1 ").number(status_).byte(' ').text(reasonPhrase(status_)).text("\r\n");
    const std::size_t headSize = statusLine.size() + head_.size() + framing.size();
    char* start = buffer_.data() + replyHeadRoom - headSize;
    char* at = start;
    for (std::string_view part : {statusLine.view(), head_.view(), framing.view()}) {
        std::memcpy(at, part.data(), part.size());
        at += part.size();
    }
    return {start, headSize + body_.size()};
}

void plainReply(GateReply& reply, int status, std::string_view text) {
    reply.status(status);
    reply.header("Content-Type", "text/plain; charset=utf-8");
    reply.header("Cache-Control", "no-store");
    reply.body().text(text);
}

void refuseReply(GateReply& reply, GateFault fault) {
    const bool limited = fault == GateFault::TooManyChallenges;
    plainReply(reply, limited ? 429 : 400, limited ? "too many requests: " : "bad request: ");
    reply.body().text(gateFaultName(fault)).byte('\n');
}

}  // namespace vorn
