#pragma once

#include <cstddef>
#include <expected>
#include <span>

#include "common/error.hpp"
#include "common/text_writer.hpp"

namespace vorn {

// Renders the metrics page at the moment of the request.
class MetricsSource {
public:
    [[nodiscard]] virtual std::expected<void, Error> render(TextWriter& out) = 0;

protected:
    ~MetricsSource() = default;
};

// Room before the body for the status line and headers.
inline constexpr std::size_t responseHeadRoom = 256;

// True once the buffered request bytes hold CR LF CR LF. The first `seen`
// bytes were looked at before, so the search resumes just before them.
[[nodiscard]] bool requestHeadComplete(std::span<const std::byte> input, std::size_t seen);

// Where the response lies in the output chunk: head and body back to back.
struct ResponseRange {
    std::size_t begin;
    std::size_t end;
};

// Answers the request in `input` (its head complete) inside `chunk`: the page
// for exactly "GET /metrics", the fixed 404 for anything else. The body
// starts at offset 256 and the head ends there. WriteFailed when the page
// does not fit.
[[nodiscard]] std::expected<ResponseRange, Error> writeMetricsResponse(
    std::span<const std::byte> input, std::span<std::byte> chunk, MetricsSource& source);

}  // namespace vorn
