#include <algorithm>

#include "loop/event_loop.hpp"
#include "spop/codec/frame_writer.hpp"
#include "spop/codec/kv_reader.hpp"
#include "spop/connection_protocol.hpp"

// The agent's answers to HAProxy's frames. The protocol keeps no handshake
// state: every frame is answered on its own, whenever it arrives.

namespace vorn {

// Returns false when the frame must close the connection without a reply.
bool ConnectionProtocol::handleFrame(Connection& connection, const Frame& frame) {
    switch (static_cast<FrameType>(frame.type)) {
        case FrameType::haproxyHello:
            return answerHello(connection, frame);
        case FrameType::haproxyDisconnect: {
            FrameWriter writer;
            appendOutput(connection, writeAgentDisconnect(writer));
            connection.closeAfterFlush = true;
            return true;
        }
        case FrameType::notify:
            return notify_.handleNotify(connection, frame).has_value();
        default:
            return true;  // other types are skipped
    }
}

// Answers with the smaller of HAProxy's max-frame-size and our frame limit
// (HAProxy marks the agent down when the answer exceeds its offer); the
// limit on incoming frames stays 16384 whatever was announced. A health
// check closes once the answer is sent.
bool ConnectionProtocol::answerHello(Connection& connection, const Frame& frame) {
    bool healthcheck = false;
    std::uint64_t maxFrameSize = maxFrameLength;
    KvReader reader(frame.payload);
    for (;;) {
        auto item = reader.next();
        if (!item) return false;
        if (!item->has_value()) break;
        const KvItem& kv = **item;
        if (kv.key == "healthcheck") {
            healthcheck = kv.value.tag == ValueTag::boolean && kv.value.boolean;
        } else if (kv.key == "max-frame-size") {
            switch (kv.value.tag) {
                case ValueTag::signedInt:
                    maxFrameSize = static_cast<std::uint64_t>(
                        std::max<std::int64_t>(kv.value.signedInteger(), 0));
                    break;
                case ValueTag::unsignedInt:
                    maxFrameSize = kv.value.integer;
                    break;
                default:
                    maxFrameSize = maxFrameLength;
                    break;
            }
        }
    }
    FrameWriter writer;
    appendOutput(connection,
                 writeAgentHello(writer, std::min<std::uint64_t>(maxFrameSize, maxFrameLength)));
    if (healthcheck) connection.closeAfterFlush = true;
    return true;
}

}  // namespace vorn
