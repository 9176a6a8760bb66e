#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "common/connection_io.hpp"
#include "spop/codec/frame.hpp"
#include "spop/notify_handler.hpp"

namespace vorn {

// The agent's side of one HAProxy connection: cuts frames from the buffered
// input and answers HAPROXY-HELLO, HAPROXY-DISCONNECT and NOTIFY. There is
// no handshake state: every frame is answered on its own, whenever it
// arrives. A parked NOTIFY stops its connection's frames until its reply
// comes back, so ACKs leave in the order of their NOTIFYs. Belongs to the
// loop thread.
class SpopHandler final : public ConnectionHandler {
public:
    static constexpr std::size_t parkingSlots = 1024;

    SpopHandler(NotifyHandler& notify, ParkedConnections& connections)
        : notify_(notify), connections_(connections) {}

    void onInput(ConnectionIo& connection) override;
    void onClosed(std::optional<std::uint16_t> parkedSlot) override;

    // The reply for the NOTIFY parked in `slot`, once it is decided.
    void resume(std::uint16_t slot, const NotifyReply& reply);

private:
    // What handling a frame leaves for the frames after it.
    enum class Next : std::uint8_t { frame, none, close };

    // Where a parked NOTIFY's ACK goes.
    struct Parked {
        ConnectionRef connection;
        std::uint64_t streamId = 0;
        std::uint64_t frameId = 0;
    };

    [[nodiscard]] Next answer(ConnectionIo& connection, const Frame& frame, Nanos arrival);
    [[nodiscard]] Next answerNotify(ConnectionIo& connection, const Frame& frame, Nanos arrival);

    NotifyHandler& notify_;
    ParkedConnections& connections_;
    std::array<Parked, parkingSlots> parked_{};
};

}  // namespace vorn
