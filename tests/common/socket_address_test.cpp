#include "common/socket_address.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <array>
#include <cstring>
#include <ostream>
#include <string>

namespace vorn {
namespace {

struct Accepted {
    std::string name;
    std::string text;
    int family;
    std::string address;  // as inet_ntop writes it back
    std::uint16_t port;
};

void PrintTo(const Accepted& row, std::ostream* out) {
    *out << row.name;
}

class SocketAddressAccepts : public testing::TestWithParam<Accepted> {};

TEST_P(SocketAddressAccepts, FillsAddressPortAndLength) {
    const Accepted& row = GetParam();
    auto parsed = parseSocketAddress(row.text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->family, row.family);
    EXPECT_EQ(parsed->storage.ss_family, row.family);
    std::array<char, INET6_ADDRSTRLEN> written{};
    if (row.family == AF_INET) {
        sockaddr_in in{};
        std::memcpy(&in, &parsed->storage, sizeof in);
        EXPECT_EQ(parsed->length, 16u);
        EXPECT_EQ(ntohs(in.sin_port), row.port);
        inet_ntop(AF_INET, &in.sin_addr, written.data(), written.size());
    } else {
        sockaddr_in6 in6{};
        std::memcpy(&in6, &parsed->storage, sizeof in6);
        EXPECT_EQ(parsed->length, 28u);
        EXPECT_EQ(ntohs(in6.sin6_port), row.port);
        inet_ntop(AF_INET6, &in6.sin6_addr, written.data(), written.size());
    }
    EXPECT_EQ(std::string(written.data()), row.address);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SocketAddressAccepts,
    testing::Values(
        Accepted{"Ipv4Loopback", "127.0.0.1:9190", AF_INET, "127.0.0.1", 9190},
        Accepted{"Ipv4AnyPort1", "0.0.0.0:1", AF_INET, "0.0.0.0", 1},
        Accepted{"Ipv4HighestAddressAndPort", "255.255.255.255:65535", AF_INET, "255.255.255.255",
                 65535},
        Accepted{"Ipv6Loopback", "[::1]:9190", AF_INET6, "::1", 9190},
        Accepted{"Ipv6Any", "[::]:80", AF_INET6, "::", 80},
        Accepted{"Ipv6Documentation", "[2001:db8::1]:443", AF_INET6, "2001:db8::1", 443},
        Accepted{"Ipv6MappedIpv4", "[::ffff:192.0.2.1]:8080", AF_INET6, "::ffff:192.0.2.1", 8080}),
    [](const auto& info) { return info.param.name; });

struct Rejected {
    std::string name;
    std::string text;
};

void PrintTo(const Rejected& row, std::ostream* out) {
    *out << row.name;
}

class SocketAddressRejects : public testing::TestWithParam<Rejected> {};

TEST_P(SocketAddressRejects, GivesNothing) {
    EXPECT_FALSE(parseSocketAddress(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SocketAddressRejects,
    testing::Values(
        Rejected{"Empty", ""}, Rejected{"Off", "off"}, Rejected{"Ipv4WithoutPort", "127.0.0.1"},
        Rejected{"Ipv4EmptyPort", "127.0.0.1:"}, Rejected{"Ipv4PortZero", "127.0.0.1:0"},
        Rejected{"Ipv4Port65536", "127.0.0.1:65536"},
        Rejected{"Ipv4PortWrappingTo1", "127.0.0.1:4294967297"},
        Rejected{"Ipv4PortWithPlus", "127.0.0.1:+80"}, Rejected{"Ipv4PortNegative", "127.0.0.1:-1"},
        Rejected{"TrailingSpace", "127.0.0.1:80 "}, Rejected{"LeadingSpace", " 127.0.0.1:80"},
        Rejected{"Ipv4TwoPorts", "127.0.0.1:80:80"}, Rejected{"Ipv4OctetAbove255", "256.0.0.1:80"},
        Rejected{"Ipv4ThreeOctets", "1.2.3:80"}, Rejected{"HostName", "localhost:80"},
        Rejected{"PortOnly", ":80"}, Rejected{"Ipv6WithoutBrackets", "::1:9190"},
        Rejected{"Ipv6WithoutPort", "[::1]"}, Rejected{"Ipv6EmptyPort", "[::1]:"},
        Rejected{"Ipv6PortWithoutColon", "[::1]9190"}, Rejected{"Ipv6UnclosedBracket", "[::1:9190"},
        Rejected{"Ipv6ExtraBracket", "[::1]]:80"}, Rejected{"EmptyBrackets", "[]:80"},
        Rejected{"Ipv6PortZero", "[::1]:0"}, Rejected{"Ipv6Port65536", "[::1]:65536"},
        Rejected{"Ipv4InBrackets", "[127.0.0.1]:80"}, Rejected{"Ipv6WithZone", "[fe80::1%em0]:80"},
        Rejected{"Ipv6NineGroups", "[0000:0000:0000:0000:0000:0000:0000:0000:0000]:80"},
        Rejected{"Ipv4WithNul", std::string("127.0.0.1\0:80", 13)},
        Rejected{"Ipv6WithNul", std::string("[::1\0]:80", 9)}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn
