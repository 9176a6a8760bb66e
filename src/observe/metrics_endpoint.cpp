#include "observe/metrics_endpoint.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/byte_text.hpp"
#include "common/http_head.hpp"

namespace vorn {

namespace {

constexpr std::string_view notFoundBody = "not found\n";

// The method is case-sensitive and the target runs to the next space, or to
// the end of what was buffered when there is none.
bool asksForMetrics(std::string_view request) {
    constexpr std::string_view get = "GET ";
    if (!request.starts_with(get)) return false;
    std::string_view target = request.substr(get.size());
    target = target.substr(0, target.find(' '));
    return target == "/metrics";
}

}  // namespace

bool requestHeadComplete(std::span<const std::byte> input, std::size_t seen) {
    return findHttpHeadEnd(asText(input), seen).has_value();
}

std::expected<ResponseRange, Error> writeMetricsResponse(std::span<const std::byte> input,
                                                         std::span<std::byte> chunk,
                                                         MetricsSource& source) {
    auto* base = reinterpret_cast<char*>(chunk.data());
    TextWriter body({base + responseHeadRoom, chunk.size() - responseHeadRoom});
    std::string_view status = "404 Not Found";
    std::string_view contentType = "text/plain";
    if (asksForMetrics(asText(input))) {
        if (auto rendered = source.render(body); !rendered || body.overflowed()) {
            return std::unexpected(Error::WriteFailed);
        }
        status = "200 OK";
        contentType = "text/plain; version=0.0.4";
    } else {
        body.text(notFoundBody);
    }
    FixedText<responseHeadRoom> head;
    head.text("HTTP/1.1 ")
        .text(status)
        .text("\r\ncontent-type: ")
        .text(contentType)
        .text("\r\ncontent-length: ")
        .number(body.size())
        .text("\r\nconnection: close\r\n\r\n");
    std::size_t begin = responseHeadRoom - head.size();
    std::memcpy(base + begin, head.view().data(), head.size());
    return ResponseRange{begin, responseHeadRoom + body.size()};
}

}  // namespace vorn
