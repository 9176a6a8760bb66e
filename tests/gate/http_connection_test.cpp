#include "http_connection.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/test_name.hpp"

namespace vorn::gate {
namespace {

using namespace std::chrono_literals;

// Answers every request with 200 and the method and path; remembers what
// was refused.
class EchoHandler final : public HttpHandler {
public:
    HttpResponse handle(const HttpRequest& request) override {
        return {.status = 200,
                .headers = {},
                .body = request.method + " " + request.path + " " + request.body};
    }
    void refused(Fault fault) override {
        std::lock_guard lock(mutex);
        faults.push_back(fault);
    }
    std::mutex mutex;
    std::vector<Fault> faults;
};

struct ConnectionRow {
    std::string name;
    std::string sent;
    bool closeAfterSending;
    std::string answer;  // the status line and, after a blank line, the body
    std::optional<Fault> refused{};
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

// A deadline of 300 ms: a request that stalls is answered at it.
TEST_P(Connections, AreAnsweredOnceWithinTheirDeadline) {
    const ConnectionRow& row = GetParam();
    std::array<int, 2> fds{};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds.data()), 0);
    EchoHandler handler;
    std::thread server([&] {
        serveConnection(fds[0], handler, 300ms);
        ::close(fds[0]);
    });
    ASSERT_EQ(::write(fds[1], row.sent.data(), row.sent.size()),
              static_cast<ssize_t>(row.sent.size()));
    if (row.closeAfterSending) ::shutdown(fds[1], SHUT_WR);
    const std::string raw = readAll(fds[1]);
    server.join();
    ::close(fds[1]);
    EXPECT_EQ(statusAndBody(raw), row.answer);
    std::vector<Fault> expected;
    if (row.refused) expected.push_back(*row.refused);
    EXPECT_EQ(handler.faults, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Connections,
    testing::Values(
        ConnectionRow{"get", "GET /a HTTP/1.1\r\nHost: x\r\n\r\n", false,
                      "HTTP/1.1 200 OK\n\nGET /a "},
        ConnectionRow{"post with body", "POST /b HTTP/1.1\r\nContent-Length: 3\r\n\r\nx=1", false,
                      "HTTP/1.1 200 OK\n\nPOST /b x=1"},
        ConnectionRow{"bytes past the body are ignored",
                      "POST /b HTTP/1.1\r\nContent-Length: 1\r\n\r\nxyz", false,
                      "HTTP/1.1 200 OK\n\nPOST /b x"},
        ConnectionRow{"closed without a word", "", true, ""},
        ConnectionRow{"garbage", "\x16\x03\x01 hello\r\n\r\n", false,
                      "HTTP/1.1 400 Bad Request\n\nbad request: bad_http\n", Fault::BadHttp},
        ConnectionRow{"closed half way", "GET / HTTP/1.1\r\nHo", true,
                      "HTTP/1.1 400 Bad Request\n\nbad request: bad_http\n", Fault::BadHttp},
        ConnectionRow{"head never ends", "GET / HTTP/1.1\r\nHost: x\r\n", false,
                      "HTTP/1.1 400 Bad Request\n\nbad request: timeout\n", Fault::Timeout},
        ConnectionRow{"body shorter than said", "POST / HTTP/1.1\r\nContent-Length: 9\r\n\r\nab",
                      false, "HTTP/1.1 400 Bad Request\n\nbad request: timeout\n", Fault::Timeout},
        ConnectionRow{"head too long", "GET /" + std::string(9000, 'a'), false,
                      "HTTP/1.1 400 Bad Request\n\nbad request: too_large\n", Fault::TooLarge},
        ConnectionRow{"body too long", "POST / HTTP/1.1\r\nContent-Length: 5000\r\n\r\n", false,
                      "HTTP/1.1 400 Bad Request\n\nbad request: too_large\n", Fault::TooLarge}),
    [](const testing::TestParamInfo<ConnectionRow>& info) {
        return test::testName(info.param.name);
    });

}  // namespace
}  // namespace vorn::gate
