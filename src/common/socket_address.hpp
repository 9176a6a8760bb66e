#pragma once

#include <sys/socket.h>

#include <optional>
#include <string_view>

namespace vorn {

// A TCP address ready for bind: AF_INET with length 16 or AF_INET6 with
// length 28, port in network byte order.
struct SocketAddress {
    sockaddr_storage storage;
    socklen_t length;
    int family;
};

// Accepts "a.b.c.d:port" or "[ipv6]:port" with a decimal port of 1 to 65535.
// Returns nothing for any other form, an IPv4 address without a port among
// them.
[[nodiscard]] std::optional<SocketAddress> parseSocketAddress(std::string_view text);

}  // namespace vorn
