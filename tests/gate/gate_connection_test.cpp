#include "gate/gate_connection.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/test_name.hpp"

namespace vorn {
namespace {

using namespace std::chrono_literals;

constexpr Nanos deadline = 300'000'000;  // a request that stalls is answered at it

// Answers every request with 200, its method, path and body; remembers what
// was refused. Also the page the metrics listener serves.
class EchoHandler final : public GateHandler, public MetricsSource {
public:
    void handle(const GateRequest& request, const GateTime&, GateReply& reply) override {
        reply.body().text(request.method).byte(' ').text(request.path).byte(' ');
        reply.body().text(request.body);
    }
    void refused(GateFault fault) override {
        std::lock_guard lock(mutex);
        faults.push_back(fault);
    }
    std::expected<void, Error> render(TextWriter& out) override {
        out.text("vorn_gate_x 1\n");
        return {};
    }
    std::mutex mutex;
    std::vector<GateFault> faults;
};

struct ConnectionRow {
    std::string name;
    std::vector<std::string> pieces;  // sent one after the other, apart by 100 ms in all
    bool closeAfterSending;
    std::string answer;  // the status line and, after a blank line, the body
    std::optional<GateFault> refused{};
    bool metrics = false;  // sent to the metrics listener instead
};

void PrintTo(const ConnectionRow& row, std::ostream* out) {
    *out << row.name;
}

class Connections : public testing::TestWithParam<ConnectionRow> {};

std::string readAll(int fd) {
    std::string all;
    std::array<char, 4096> chunk{};
    ssize_t got = 0;
    while ((got = ::read(fd, chunk.data(), chunk.size())) > 0) {
        all.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return all;
}

// Status line plus body, the headers left out.
std::string statusAndBody(const std::string& raw) {
    if (raw.empty()) return "";
    const std::size_t headEnd = raw.find("\r\n\r\n");
    return raw.substr(0, raw.find("\r\n")) + "\n\n" + raw.substr(headEnd + 4);
}

TEST_P(Connections, AreAnsweredOnceWithinTheirDeadline) {
    const ConnectionRow& row = GetParam();
    std::array<int, 2> fds{};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds.data()), 0);
    EchoHandler handler;
    auto buffers = std::make_unique<ConnectionBuffers>();
    std::thread server([&] {
        if (row.metrics) {
            serveMetricsConnection(fds[0], handler, *buffers, deadline);
        } else {
            serveGateConnection(fds[0], handler, *buffers, deadline);
        }
        ::close(fds[0]);
    });
    const auto pause = 100ms / row.pieces.size();
    for (const std::string& piece : row.pieces) {
        ASSERT_EQ(::send(fds[1], piece.data(), piece.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(piece.size()));
        if (row.pieces.size() > 1) std::this_thread::sleep_for(pause);
    }
    if (row.closeAfterSending) ::shutdown(fds[1], SHUT_WR);
    const std::string raw = readAll(fds[1]);
    server.join();
    ::close(fds[1]);
    EXPECT_EQ(statusAndBody(raw), row.answer);
    std::vector<GateFault> expected;
    if (row.refused) expected.push_back(*row.refused);
    EXPECT_EQ(handler.faults, expected);
}

std::vector<std::string> bytesOf(const std::string& text) {
    std::vector<std::string> bytes;
    for (char c : text) bytes.emplace_back(1, c);
    return bytes;
}

const std::string chunkedHead = "POST /b HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";

// A request answered with 200 and `echo`, or refused for `fault`.
ConnectionRow served(std::string name, std::vector<std::string> pieces, std::string echo) {
    return {std::move(name), std::move(pieces), false, "HTTP/1.1 200 OK\n\n" + echo};
}

ConnectionRow refused(std::string name, std::vector<std::string> pieces, GateFault fault,
                      bool close = false) {
    return {std::move(name), std::move(pieces), close,
            "HTTP/1.1 400 Bad Request\n\nbad request: " + std::string(gateFaultName(fault)) + "\n",
            fault};
}

// The same request sent to the metrics listener, answered with `status`.
ConnectionRow metrics(std::string name, std::vector<std::string> pieces, std::string status) {
    return {std::move(name), std::move(pieces), false, "HTTP/1.1 " + status, {}, true};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Connections,
    testing::Values(
        served("get", {"GET /a HTTP/1.1\r\nHost: x\r\n\r\n"}, "GET /a "),
        served("head a byte at a time", bytesOf("GET /a HTTP/1.1\r\nHost: x\r\n\r\n"), "GET /a "),
        served("post with body", {"POST /b HTTP/1.1\r\nContent-Length: 3\r\n\r\nx=1"},
               "POST /b x=1"),
        served("chunked body", {chunkedHead + "3\r\nx=1\r\n4;ext=1\r\n&y=2\r\n0\r\n\r\n"},
               "POST /b x=1&y=2"),
        served("chunked body in pieces",
               {chunkedHead + "3\r", "\nx=", "1\r\n0\r\nTrailer: t\r", "\n\r\n"}, "POST /b x=1"),
        refused("chunk size not hexadecimal", {chunkedHead + "x\r\n"}, GateFault::BadChunk),
        refused("chunk without its end", {chunkedHead + "1\r\nxy\r\n"}, GateFault::BadChunk),
        refused("chunks past 4 KiB", {chunkedHead + "1001\r\n"}, GateFault::TooLarge),
        ConnectionRow{"closed without a word", {""}, true, ""},
        refused("garbage", {"\x16\x03\x01 hello\r\n\r\n"}, GateFault::BadHttp),
        refused("closed half way", {"GET / HTTP/1.1\r\nHo"}, GateFault::BadHttp, true),
        refused("head never ends", {"GET / HTTP/1.1\r\nHost: x\r\n"}, GateFault::Timeout),
        refused("body shorter than said", {"POST / HTTP/1.1\r\nContent-Length: 9\r\n\r\nab"},
                GateFault::Timeout),
        refused("head too long", {"GET /" + std::string(9000, 'a')}, GateFault::TooLarge),
        metrics("metrics in pieces", {"GET /metrics HTTP/1.1\r\n", "\r\n"},
                "200 OK\n\nvorn_gate_x 1\n"),
        metrics("metrics elsewhere", {"GET /other HTTP/1.1\r\n\r\n"},
                "404 Not Found\n\nnot found\n")),
    [](const testing::TestParamInfo<ConnectionRow>& info) {
        return test::testName(info.param.name);
    });

}  // namespace
}  // namespace vorn
