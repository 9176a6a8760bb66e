#include "common/socket_address.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <array>
#include <cstring>
#include <string>

namespace vorn {
namespace {

struct Accepted {
    std::string text;
    int family;
    std::string address;  // as inet_ntop writes it back
    std::uint16_t port;
};

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
    testing::Values(Accepted{"127.0.0.1:9190", AF_INET, "127.0.0.1", 9190},
                    Accepted{"0.0.0.0:1", AF_INET, "0.0.0.0", 1},
                    Accepted{"255.255.255.255:65535", AF_INET, "255.255.255.255", 65535},
                    Accepted{"[::1]:9190", AF_INET6, "::1", 9190},
                    Accepted{"[::]:80", AF_INET6, "::", 80},
                    Accepted{"[2001:db8::1]:443", AF_INET6, "2001:db8::1", 443},
                    Accepted{"[::ffff:192.0.2.1]:8080", AF_INET6, "::ffff:192.0.2.1", 8080}));

class SocketAddressRejects : public testing::TestWithParam<std::string> {};

TEST_P(SocketAddressRejects, GivesNothing) {
    EXPECT_FALSE(parseSocketAddress(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SocketAddressRejects,
    testing::Values("", "off", "127.0.0.1", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536",
                    "127.0.0.1:4294967297", "127.0.0.1:+80", "127.0.0.1:-1", "127.0.0.1:80 ",
                    " 127.0.0.1:80", "127.0.0.1:80:80", "256.0.0.1:80", "1.2.3:80", "localhost:80",
                    ":80", "::1:9190", "[::1]", "[::1]:", "[::1]9190", "[::1:9190", "[::1]]:80",
                    "[]:80", "[::1]:0", "[::1]:65536", "[127.0.0.1]:80", "[fe80::1%em0]:80",
                    "[0000:0000:0000:0000:0000:0000:0000:0000:0000]:80",
                    std::string("127.0.0.1\0:80", 13), std::string("[::1\0]:80", 9)));

}  // namespace
}  // namespace vorn
