#include "common/socket_address.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>
#include <charconv>
#include <cstdint>

namespace vorn {

namespace {

// Accepts decimal digits only, 1 to 65535.
std::optional<std::uint16_t> parsePort(std::string_view text) {
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    std::uint32_t port = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (port < 1 || port > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

// inet_pton wants a terminated string; the text is copied to the stack so
// that the caller's view stays untouched. Returns false for text that does
// not fit, holds a NUL byte or is not an address of the family.
bool parseAddress(int family, std::string_view text, void* out) {
    std::array<char, INET6_ADDRSTRLEN> terminated{};
    if (text.size() >= terminated.size() || text.find('\0') != std::string_view::npos) {
        return false;
    }
    text.copy(terminated.data(), text.size());
    return inet_pton(family, terminated.data(), out) == 1;
}

std::optional<SocketAddress> parseIpv4(std::string_view address, std::uint16_t port) {
    SocketAddress result{};
    auto* in = reinterpret_cast<sockaddr_in*>(&result.storage);
    if (!parseAddress(AF_INET, address, &in->sin_addr)) return std::nullopt;
    in->sin_family = AF_INET;
    in->sin_port = htons(port);
    result.length = sizeof(sockaddr_in);
    result.family = AF_INET;
    return result;
}

std::optional<SocketAddress> parseIpv6(std::string_view address, std::uint16_t port) {
    SocketAddress result{};
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&result.storage);
    if (!parseAddress(AF_INET6, address, &in6->sin6_addr)) return std::nullopt;
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    result.length = sizeof(sockaddr_in6);
    result.family = AF_INET6;
    return result;
}

}  // namespace

std::optional<SocketAddress> parseSocketAddress(std::string_view text) {
    if (text.starts_with('[')) {
        std::size_t close = text.find("]:");
        if (close == std::string_view::npos) return std::nullopt;
        auto port = parsePort(text.substr(close + 2));
        if (!port) return std::nullopt;
        return parseIpv6(text.substr(1, close - 1), *port);
    }
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto port = parsePort(text.substr(colon + 1));
    if (!port) return std::nullopt;
    return parseIpv4(text.substr(0, colon), *port);
}

}  // namespace vorn
