#include "gate/client_key.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>
#include <cstring>

namespace vorn {

namespace {

constexpr std::byte ipv4Tag{4};
constexpr std::byte ipv6Tag{6};
constexpr std::size_t longestAddress = INET6_ADDRSTRLEN;

TableKey ipv4Key(const unsigned char* address) {
    TableKey key{};
    key[0] = ipv4Tag;
    std::memcpy(key.data() + 1, address, 4);
    return key;
}

}  // namespace

std::optional<TableKey> clientKey(std::string_view address) {
    if (address.empty() || address.size() >= longestAddress) return std::nullopt;
    std::array<char, longestAddress> text{};
    std::memcpy(text.data(), address.data(), address.size());
    in_addr v4{};
    if (::inet_pton(AF_INET, text.data(), &v4) == 1) {
        return ipv4Key(reinterpret_cast<const unsigned char*>(&v4));
    }
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.data(), &v6) != 1) return std::nullopt;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&v6);
    constexpr std::array<unsigned char, 12> mapped = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(bytes, mapped.data(), mapped.size()) == 0) return ipv4Key(bytes + 12);
    TableKey key{};
    key[0] = ipv6Tag;
    std::memcpy(key.data() + 1, bytes, 8);
    return key;
}

}  // namespace vorn
