#include "spop/spop_handler.hpp"

#include <algorithm>
#include <cassert>

#include "spop/codec/frame_writer.hpp"
#include "spop/codec/kv_reader.hpp"

namespace vorn {

namespace {

struct Hello {
    bool healthcheck = false;
    std::uint64_t maxFrameSize = maxFrameLength;
};

// The items of HAPROXY-HELLO that matter; the last of a repeated key counts.
// Nothing when an item fails to decode.
std::optional<Hello> readHello(std::span<const std::byte> payload) {
    Hello hello;
    KvReader reader(payload);
    KvItem kv;
    for (;;) {
        auto read = reader.next(kv);
        if (!read) return std::nullopt;
        if (!*read) return hello;
        if (kv.key == "healthcheck") {
            hello.healthcheck = kv.value.tag == ValueTag::boolean && kv.value.boolean;
        } else if (kv.key == "max-frame-size") {
            switch (kv.value.tag) {
                case ValueTag::signedInt:
                    hello.maxFrameSize = static_cast<std::uint64_t>(
                        std::max<std::int64_t>(kv.value.signedInteger(), 0));
                    break;
                case ValueTag::unsignedInt:
                    hello.maxFrameSize = kv.value.integer;
                    break;
                default:
                    hello.maxFrameSize = maxFrameLength;
                    break;
            }
        }
    }
}

std::span<const std::byte> writeAck(FrameWriter& writer, std::uint64_t streamId,
                                    std::uint64_t frameId, const NotifyReply& reply) {
    writer.begin(FrameType::ack, streamId, frameId);
    writer.putSetVar("vorn_verdict", verdictName(reply.verdict));
    if (reply.difficultyLength > 0) writer.putSetVar("vorn_difficulty", reply.difficultyText());
    if (reply.receipt != ReceiptStatus::none) {
        writer.putSetVar("vorn_receipt", receiptStatusName(reply.receipt));
    }
    return writer.finish();
}

}  // namespace

// Cuts and answers frames from the start of the input until one is
// incomplete, the output has no room for a reply, or a frame ends the
// exchange; consumes what was answered. The frames handled in one call
// share one clock reading, taken as the handler begins on them.
void SpopHandler::onInput(ConnectionIo& connection) {
    if (connection.context() != 0 && !appendParkedAnswer(connection)) return;
    const Nanos arrival = wallClockNanos();
    std::span<const std::byte> input = connection.input();
    std::size_t offset = 0;
    Next next = Next::frame;
    while (next == Next::frame && !connection.inputPaused()) {
        CutFrame cut = cutFrame(input.subspan(offset));
        if (cut.status == CutFrame::Status::needMore) break;
        if (cut.status == CutFrame::Status::badLength) {
            connection.close();
            return;
        }
        if (!connection.reserveReply()) break;
        next = cut.status == CutFrame::Status::malformed ? Next::close
                                                         : answer(connection, cut.frame, arrival);
        if (next == Next::close) {
            connection.close();
            return;
        }
        offset += cut.totalSize;
    }
    if (offset > 0) connection.consume(offset);
}

// The answer of the NOTIFY that was parked goes out before any frame that
// came after it; false while there is no room for it yet.
bool SpopHandler::appendParkedAnswer(ConnectionIo& connection) {
    Parked& parked = parked_[connection.context() - 1];
    assert(parked.answer);
    if (!connection.reserveReply()) return false;
    FrameWriter writer;
    connection.appendReply(writeAck(writer, parked.streamId, parked.frameId, *parked.answer));
    const NotifyReply answer = *parked.answer;
    parked = {};
    connection.setContext(0);
    notify_.replied(answer);
    return true;
}

// Answers with the smaller of HAProxy's max-frame-size and our frame limit
// (HAProxy marks the agent down when the answer exceeds its offer); the
// limit on incoming frames stays 16384 whatever was announced. A health
// check closes once the answer is sent, and so does a disconnect, whose
// payload is not read.
SpopHandler::Next SpopHandler::answer(ConnectionIo& connection, const Frame& frame, Nanos arrival) {
    FrameWriter writer;
    switch (static_cast<FrameType>(frame.type)) {
        case FrameType::haproxyHello: {
            std::optional<Hello> hello = readHello(frame.payload);
            if (!hello) return Next::close;
            connection.appendReply(writeAgentHello(
                writer, std::min<std::uint64_t>(hello->maxFrameSize, maxFrameLength)));
            if (!hello->healthcheck) return Next::frame;
            connection.closeAfterFlush();
            return Next::none;
        }
        case FrameType::haproxyDisconnect:
            connection.appendReply(writeAgentDisconnect(writer));
            connection.closeAfterFlush();
            return Next::none;
        case FrameType::notify:
            return answerNotify(connection, frame, arrival);
        default:
            return Next::frame;  // other types are skipped
    }
}

SpopHandler::Next SpopHandler::answerNotify(ConnectionIo& connection, const Frame& frame,
                                            Nanos arrival) {
    auto reply = notify_.handleNotify(frame.payload, arrival);
    if (!reply) return Next::close;
    if (reply->parkedSlot) {
        const std::uint16_t slot = *reply->parkedSlot;
        assert(slot < parkingCapacity && parked_[slot].connection.connection == nullptr);
        parked_[slot] = {connection.ref(), frame.streamId, frame.frameId, std::nullopt};
        connection.setContext(std::uintptr_t{slot} + 1);
        connection.pauseInput();
        return Next::none;
    }
    FrameWriter writer;
    connection.appendReply(writeAck(writer, frame.streamId, frame.frameId, *reply));
    notify_.replied(*reply);
    return Next::frame;
}

void SpopHandler::answerParked(std::uint16_t slot, const NotifyReply& reply) {
    Parked& parked = parked_[slot];
    assert(parked.connection.connection != nullptr && !parked.answer);
    parked.answer = reply;
    connections_.resumeInput(parked.connection);
}

void SpopHandler::onClosed(std::uintptr_t context) {
    if (context == 0) return;
    const auto slot = static_cast<std::uint16_t>(context - 1);
    parked_[slot] = {};
    notify_.forgetParked(slot);
}

}  // namespace vorn
