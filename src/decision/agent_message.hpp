#pragma once

#include <cstddef>
#include <expected>
#include <span>

#include "common/error.hpp"
#include "decision/client_address.hpp"
#include "decision/request_facts.hpp"

namespace vorn {

inline constexpr std::string_view agentMessageName = "vorn-check";

// Finds the "vorn-check" message in a NOTIFY payload (a message list) and
// reads its arguments into `facts`, the site's session cookie
// `sessionCookie` marking a signed-in client; an address sent as IPV4 or
// IPV6 is formatted into `ipText`. Returns false when the payload holds no such
// message, Truncated or BadType when the list or an argument is malformed.
// Unknown or wrongly typed arguments leave their fact at its default.
[[nodiscard]] std::expected<bool, Error> readAgentMessage(std::span<const std::byte> payload,
                                                          std::string_view sessionCookie,
                                                          RequestFacts& facts,
                                                          std::span<char, ipTextCapacity> ipText);

}  // namespace vorn
