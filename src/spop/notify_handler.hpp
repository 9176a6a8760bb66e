#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "common/error.hpp"
#include "common/nanos.hpp"
#include "common/notify_reply.hpp"

namespace vorn {

// The request decision, as the SPOP handler sees it. Belongs to the loop
// thread.
class NotifyHandler {
public:
    // The reply to one NOTIFY's message list (or the slot it parked in), or
    // Truncated or BadType when the list or an argument is malformed (the
    // connection then closes without a reply). `arrival` is the wall clock
    // when the handler began on the frames read with this one.
    [[nodiscard]] virtual std::expected<NotifyReply, Error> handleNotify(
        std::span<const std::byte> payload, Nanos arrival) = 0;
    // The ACK for `reply` has just been appended to its connection's output.
    virtual void replied(const NotifyReply& reply) = 0;
    // The connection of the NOTIFY parked in `slot` closed before its ACK
    // was appended, with or without an answer: none must come.
    virtual void forgetParked(std::uint16_t slot) = 0;

protected:
    ~NotifyHandler() = default;
};

// The SPOP handler's side of a parked NOTIFY, for the decision: the answer
// to the NOTIFY parked in `slot`, once it is decided.
class ParkedNotifies {
public:
    virtual void answerParked(std::uint16_t slot, const NotifyReply& reply) = 0;

protected:
    ~ParkedNotifies() = default;
};

}  // namespace vorn
