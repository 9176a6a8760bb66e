#include "support/http_client.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/scripted_peer.hpp"

namespace vorn::test {
namespace {

const std::string notFound =
    "HTTP/1.1 404 Not Found\r\ncontent-type: text/plain\r\ncontent-length: 10\r\n"
    "connection: close\r\n\r\nnot found\n";

TEST(HttpClient, GetReadsTheResponseUntilClose) {
    std::string request;
    TcpListener listener = listenTcpLoopback();
    {
        ScriptedPeer server(listener.fd, [&](int fd) {
            readUntil(fd, request, "\r\n\r\n");
            writeAll(fd, notFound);
        });
        auto response = httpGet(listener.port, "/nothing");
        ASSERT_TRUE(response.has_value());
        EXPECT_EQ(response->statusLine, "HTTP/1.1 404 Not Found");
        EXPECT_EQ(response->status, 404);
        EXPECT_EQ(response->headers.at("content-type"), "text/plain");
        EXPECT_EQ(response->headers.at("content-length"), "10");
        EXPECT_EQ(response->body, "not found\n");
    }
    EXPECT_TRUE(request.starts_with("GET /nothing HTTP/1.1\r\n")) << request;
}

TEST(HttpClient, SplitRequestArrivesWhole) {
    std::string request = "GET /metrics HTTP/1.1\r\n\r\n";
    std::string received;
    TcpListener listener = listenTcpLoopback();
    {
        ScriptedPeer server(listener.fd, [&](int fd) {
            readUntil(fd, received, "\r\n\r\n");
            writeAll(fd, notFound);
        });
        auto raw = httpExchange("127.0.0.1:" + std::to_string(listener.port), request,
                                defaultTimeout, {.cuts = {3, 4, 24}, .pause = Millis{10}});
        EXPECT_EQ(raw, notFound);
    }
    EXPECT_EQ(received, request);
}

TEST(HttpClient, CloseWithoutAnswerIsAnEmptyResponse) {
    TcpListener listener = listenTcpLoopback();
    ScriptedPeer server(listener.fd, [](int fd) {
        std::string some;
        readAtLeast(fd, some, 1);
    });
    // More than the socket buffers hold, so the server closes on unread bytes.
    auto raw = httpExchange(listener.port, std::string(4 << 20, 'x'));
    EXPECT_EQ(raw, "");
}

struct ParseCase {
    std::string raw;
    bool readable;
};

class ParseHttpResponse : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseHttpResponse, AcceptsOnlyAWholeHead) {
    EXPECT_EQ(parseHttpResponse(GetParam().raw).has_value(), GetParam().readable);
}

INSTANTIATE_TEST_SUITE_P(Heads, ParseHttpResponse,
                         testing::Values(ParseCase{notFound, true},
                                         ParseCase{"HTTP/1.1 200 OK\r\n\r\n", true},
                                         ParseCase{"HTTP/1.1 200 OK\r\nx: y\r\n", false},
                                         ParseCase{"HTTP/1.0 200 OK\r\n\r\n", false},
                                         ParseCase{"HTTP/1.1 2x0 OK\r\n\r\n", false},
                                         ParseCase{"HTTP/1.1 200 OK\r\nno colon\r\n\r\n", false},
                                         ParseCase{"", false}));

TEST(ParseHttpResponse, HeaderNamesAreLowerCase) {
    auto response = parseHttpResponse("HTTP/1.1 200 OK\r\nContent-Type:  a b\r\n\r\nbody");
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->headers.at("content-type"), "a b");
    EXPECT_EQ(response->body, "body");
}

}  // namespace
}  // namespace vorn::test
