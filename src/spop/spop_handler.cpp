#include "spop/spop_handler.hpp"

#include <algorithm>

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
    const Nanos arrival = wallClockNanos();
    std::span<const std::byte> input = connection.input();
    std::size_t offset = 0;
    Next next = Next::frame;
    while (next == Next::frame && !connection.parked()) {
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
        parked_[*reply->parkedSlot] = {connection.ref(), frame.streamId, frame.frameId};
        connection.park(*reply->parkedSlot);
        return Next::none;
    }
    FrameWriter writer;
    connection.appendReply(writeAck(writer, frame.streamId, frame.frameId, *reply));
    return Next::frame;
}

void SpopHandler::resume(std::uint16_t slot, const NotifyReply& reply) {
    Parked& parked = parked_[slot];
    if (parked.connection.connection == nullptr) return;
    FrameWriter writer;
    ConnectionRef connection = parked.connection;
    parked.connection = {};
    connections_.unpark(connection, writeAck(writer, parked.streamId, parked.frameId, reply));
}

void SpopHandler::onClosed(std::optional<std::uint16_t> parkedSlot) {
    if (!parkedSlot) return;
    parked_[*parkedSlot].connection = {};
    notify_.forgetParked(*parkedSlot);
}

}  // namespace vorn
