// Hands arbitrary NOTIFY payloads to the whole request pipeline: message
// walk, arguments, header block and cookies, the rules and the statistics,
// the challenge policy and the reply. Every payload must either be refused
// or answered with exactly one ACK that fits the reply room.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "decision/request_decision.hpp"
#include "loop/connection_limits.hpp"
#include "spop/codec/frame.hpp"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

vorn::ChallengePolicy challengesOn() {
    vorn::ChallengePolicy policy;
    policy.mode = vorn::ChallengeMode::on;
    policy.difficulty = {1.0 / 8192, 1.0 / 2048, 1.0 / 2048};
    policy.keysLoaded = true;
    return policy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static vorn::StatsBlock stats;
    static vorn::DecisionState state(vorn::BacklogMeter(4, 16, 300 * vorn::nanosPerSecond),
                                     challengesOn(), vorn::LogVerdicts::all, stats);
    static vorn::RequestDecision decision(state);
    static std::array<std::byte, vorn::chunkBytes> output;

    vorn::Connection connection;
    connection.output = output.data();
    vorn::Frame frame{3, 1, 7, 1, std::span(reinterpret_cast<const std::byte*>(data), size)};
    auto handled = decision.handleNotify(connection, frame);
    if (handled) {
        require(connection.outputEnd > 0 && connection.outputEnd <= vorn::replyRoom);
        vorn::CutFrame cut = vorn::cutFrame({output.data(), connection.outputEnd});
        require(cut.status == vorn::CutFrame::Status::frame &&
                cut.totalSize == connection.outputEnd && cut.frame.type == 103);
    } else {
        require(connection.outputEnd == 0);
    }
    return 0;
}
