#pragma once

#include <cstddef>
#include <expected>
#include <span>

#include "common/error.hpp"
#include "common/notify_reply.hpp"

namespace vorn {

// The request decision, as the SPOP handler sees it: the reply to one
// NOTIFY's message list, or Truncated or BadType when the list or an
// argument is malformed (the connection then closes without a reply).
class NotifyHandler {
public:
    [[nodiscard]] virtual std::expected<NotifyReply, Error> handleNotify(
        std::span<const std::byte> payload) = 0;

protected:
    ~NotifyHandler() = default;
};

}  // namespace vorn
