#include "gate/chunked_body.hpp"

#include <charconv>
#include <cstring>
#include <string_view>

#include "gate/gate_request.hpp"

namespace vorn {

namespace {

// A size line is hexadecimal digits and perhaps an extension; no honest one
// comes near this.
constexpr std::size_t maxSizeLine = 256;

}  // namespace

std::expected<void, GateFault> ChunkedBody::readSizeLine(std::string_view line) {
    const std::string_view digits = line.substr(0, line.find(';'));
    std::size_t size = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), size, 16);
    if (ec == std::errc::result_out_of_range) return std::unexpected(GateFault::TooLarge);
    if (ec != std::errc{} || end != digits.data() + digits.size() || digits.empty()) {
        return std::unexpected(GateFault::BadChunk);
    }
    if (size > maxBodyBytes - decoded_) return std::unexpected(GateFault::TooLarge);
    chunkLeft_ = size;
    stage_ = size == 0 ? Stage::trailer : Stage::data;
    return {};
}

std::expected<bool, GateFault> ChunkedBody::decode(std::span<char> received) {
    const std::string_view text(received.data(), received.size());
    while (stage_ != Stage::done) {
        if (stage_ == Stage::data) {
            const std::size_t take = std::min(chunkLeft_, received.size() - position_);
            std::memmove(received.data() + decoded_, received.data() + position_, take);
            decoded_ += take;
            position_ += take;
            chunkLeft_ -= take;
            if (chunkLeft_ > 0) return false;
            stage_ = Stage::dataEnd;
            continue;
        }
        const std::size_t lineEnd = text.find("\r\n", position_);
        if (lineEnd == std::string_view::npos) {
            if (text.size() - position_ > maxSizeLine) return std::unexpected(GateFault::BadChunk);
            return false;
        }
        const std::string_view line = text.substr(position_, lineEnd - position_);
        position_ = lineEnd + 2;
        if (stage_ == Stage::size) {
            if (auto read = readSizeLine(line); !read) return std::unexpected(read.error());
        } else if (stage_ == Stage::dataEnd) {
            if (!line.empty()) return std::unexpected(GateFault::BadChunk);
            stage_ = Stage::size;
        } else if (line.empty()) {
            stage_ = Stage::done;
        } else if (line.size() > maxSizeLine) {
            return std::unexpected(GateFault::BadChunk);
        }
    }
    return true;
}

}  // namespace vorn
