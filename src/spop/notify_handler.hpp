#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "common/error.hpp"
#include "common/nanos.hpp"
#include "common/notify_reply.hpp"

namespace vorn {

// The request decision, as the SPOP handler sees it: the reply to one
// NOTIFY's message list (or the slot it parked in), or Truncated or BadType
// when the list or an argument is malformed (the connection then closes
// without a reply). `arrival` is the wall clock when the handler began on
// the frames read with this one.
class NotifyHandler {
public:
    [[nodiscard]] virtual std::expected<NotifyReply, Error> handleNotify(
        std::span<const std::byte> payload, Nanos arrival) = 0;
    // The connection of parked slot `slot` closed: its reply must not come.
    virtual void forgetParked(std::uint16_t slot) = 0;

protected:
    ~NotifyHandler() = default;
};

}  // namespace vorn
