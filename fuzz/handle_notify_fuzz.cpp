// Hands arbitrary NOTIFY payloads to the SPOP handler and through it to the
// whole request pipeline: message walk, arguments, header block and cookies,
// the rules and the statistics, the challenge policy and the reply. Every
// payload must either close the connection or be answered with exactly one
// ACK that fits the reply room.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "decision/request_decision.hpp"
#include "receipt/receipt_state.hpp"
#include "spop/codec/frame.hpp"
#include "spop/spop_handler.hpp"

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

// A connection holding one frame, answering into a plain buffer.
class OneFrame final : public vorn::ConnectionIo {
public:
    explicit OneFrame(std::span<const std::byte> frame) : input_(frame) {}

    std::span<const std::byte> input() const override { return input_; }
    std::size_t inputSeen() const override { return 0; }
    void markSeen(std::size_t) override {}
    void consume(std::size_t bytes) override { input_ = input_.subspan(bytes); }
    bool reserveReply() override { return true; }
    void appendReply(std::span<const std::byte> bytes) override {
        require(bytes.size() <= vorn::replyRoom && output.empty());
        output.assign(bytes.begin(), bytes.end());
    }
    std::span<std::byte> wholeOutput() override { return {}; }
    void queueOutput(std::size_t, std::size_t) override { std::abort(); }
    void closeAfterFlush() override { std::abort(); }
    void close() override { closed = true; }
    void pauseInput() override { std::abort(); }
    bool inputPaused() const override { return false; }
    std::uintptr_t context() const override { return 0; }
    void setContext(std::uintptr_t) override { std::abort(); }
    vorn::ConnectionRef ref() const override { return {}; }

    std::vector<std::byte> output;
    bool closed = false;

private:
    std::span<const std::byte> input_;
};

// Nothing parks: without signature workers a receipt that needs a check is
// overload.
class NoParking final : public vorn::PausedConnections, public vorn::ParkedNotifies {
public:
    void resumeInput(vorn::ConnectionRef) override { std::abort(); }
    void answerParked(std::uint16_t, const vorn::NotifyReply&) override { std::abort(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static vorn::StatsBlock stats;
    static vorn::DecisionState state(vorn::BacklogMeter(4, 16, 300 * vorn::nanosPerSecond),
                                     *vorn::ClassWindows::create(1 << 20), challengesOn(),
                                     vorn::LogVerdicts::all, stats);
    static vorn::ReceiptState receipts = *vorn::ReceiptState::create(600, 4);
    static NoParking noParking;
    static vorn::RequestDecision decision(state, receipts, noParking);
    static vorn::SpopHandler handler(decision, noParking);
    constexpr std::size_t headerAfterLength = 7;  // type, four flag bytes, two ids
    if (size > vorn::maxFrameLength - headerAfterLength) return 0;

    // NOTIFY with FIN set, stream-id 7, frame-id 1, then the payload.
    const auto length = static_cast<std::uint32_t>(headerAfterLength + size);
    std::vector<std::byte> frame = {std::byte(length >> 24),
                                    std::byte(length >> 16),
                                    std::byte(length >> 8),
                                    std::byte(length),
                                    std::byte{3},
                                    std::byte{0},
                                    std::byte{0},
                                    std::byte{0},
                                    std::byte{1},
                                    std::byte{7},
                                    std::byte{1}};
    frame.insert(frame.end(), reinterpret_cast<const std::byte*>(data),
                 reinterpret_cast<const std::byte*>(data) + size);

    OneFrame connection(frame);
    handler.onInput(connection);
    if (connection.closed) {
        require(connection.output.empty());
        return 0;
    }
    require(connection.input().empty());
    vorn::CutFrame cut = vorn::cutFrame(connection.output);
    require(cut.status == vorn::CutFrame::Status::frame &&
            cut.totalSize == connection.output.size() && cut.frame.type == 103);
    return 0;
}
