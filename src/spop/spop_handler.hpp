#pragma once

#include <cstdint>
#include <optional>

#include "common/connection_io.hpp"
#include "spop/codec/frame.hpp"
#include "spop/notify_handler.hpp"

namespace vorn {

// The agent's side of one HAProxy connection: cuts frames from the buffered
// input and answers HAPROXY-HELLO, HAPROXY-DISCONNECT and NOTIFY. There is
// no handshake state: every frame is answered on its own, whenever it
// arrives. Belongs to the loop thread.
class SpopHandler final : public ConnectionHandler {
public:
    explicit SpopHandler(NotifyHandler& notify) : notify_(notify) {}

    void onInput(ConnectionIo& connection) override;
    // Nothing parks yet, so nothing needs to forget a connection.
    void onClosed(std::optional<std::uint16_t>) override {}

private:
    // What handling a frame leaves for the frames after it.
    enum class Next : std::uint8_t { frame, none, close };

    [[nodiscard]] Next answer(ConnectionIo& connection, const Frame& frame);

    NotifyHandler& notify_;
};

}  // namespace vorn
