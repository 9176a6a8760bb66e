#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "common/connection_io.hpp"
#include "common/parking.hpp"
#include "spop/codec/frame.hpp"
#include "spop/notify_handler.hpp"

namespace vorn {

// The agent's side of one HAProxy connection: cuts frames from the buffered
// input and answers HAPROXY-HELLO, HAPROXY-DISCONNECT and NOTIFY. There is
// no handshake state: every frame is answered on its own, whenever it
// arrives. A parked NOTIFY pauses its connection's input until its answer
// has been appended, so ACKs leave in the order of their NOTIFYs. Belongs to
// the loop thread.
class SpopHandler final : public ConnectionHandler, public ParkedNotifies {
public:
    // `notify` is only called once the loop runs, so it may be constructed
    // after this handler.
    SpopHandler(NotifyHandler& notify, PausedConnections& connections)
        : notify_(notify), connections_(connections) {}

    void onInput(ConnectionIo& connection) override;
    void onClosed(std::uintptr_t context) override;
    void answerParked(std::uint16_t slot, const NotifyReply& reply) override;

private:
    // What handling a frame leaves for the frames after it.
    enum class Next : std::uint8_t { frame, none, close };

    // A parked NOTIFY: where its ACK goes, and the answer once it is known
    // and waits for output room. A connection's context is its slot + 1
    // from parking until the ACK is appended.
    struct Parked {
        ConnectionRef connection;
        std::uint64_t streamId = 0;
        std::uint64_t frameId = 0;
        std::optional<NotifyReply> answer;
    };

    [[nodiscard]] bool appendParkedAnswer(ConnectionIo& connection);
    [[nodiscard]] Next answer(ConnectionIo& connection, const Frame& frame, Nanos arrival);
    [[nodiscard]] Next answerNotify(ConnectionIo& connection, const Frame& frame, Nanos arrival);

    NotifyHandler& notify_;
    PausedConnections& connections_;
    std::array<Parked, parkingCapacity> parked_{};
};

}  // namespace vorn
