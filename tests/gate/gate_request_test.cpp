#include "gate/gate_request.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

struct HeadRow {
    std::string name;
    std::string head;
    std::optional<GateFault> fault;  // nothing: parsed
    std::string path{};
    std::string query{};
    BodyFraming framing = BodyFraming::none;
    std::size_t length = 0;
};

void PrintTo(const HeadRow& row, std::ostream* out) {
    *out << row.name;
}

class RequestHeads : public testing::TestWithParam<HeadRow> {};

TEST_P(RequestHeads, ParseOrAreRefused) {
    const HeadRow& row = GetParam();
    GateRequest request;
    auto parsed = parseRequestHead(row.head, request);
    if (row.fault) {
        ASSERT_FALSE(parsed.has_value());
        EXPECT_EQ(gateFaultName(parsed.error()), gateFaultName(*row.fault));
        return;
    }
    ASSERT_TRUE(parsed.has_value()) << gateFaultName(parsed.error());
    EXPECT_EQ(request.path, row.path);
    EXPECT_EQ(request.query, row.query);
    EXPECT_EQ(request.framing, row.framing);
    EXPECT_EQ(request.contentLength, row.length);
}

const std::string manyHeaders = [] {
    std::string head = "GET / HTTP/1.1";
    for (int i = 0; i < 65; ++i) head += "\r\nx-h" + std::to_string(i) + ": v";
    return head;
}();

using enum BodyFraming;

// A head that parses into `path`, `query` and the framing of its body.
HeadRow parsed(const std::string& name, const std::string& head, const std::string& path,
               const std::string& query, BodyFraming framing = none, std::size_t length = 0) {
    return {name, head, std::nullopt, path, query, framing, length};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RequestHeads,
    testing::Values(
        parsed("plain get", "GET /a/b HTTP/1.1\r\nHost: x", "/a/b", ""),
        parsed("query kept encoded", "GET /p?return=%2Fx HTTP/1.0", "/p", "return=%2Fx"),
        parsed("body at the limit", "POST /a HTTP/1.1\r\ncontent-length: 4096", "/a", "", length,
               4096),
        HeadRow{"body past the limit", "POST /a HTTP/1.1\r\nContent-Length: 4097",
                GateFault::TooLarge},
        HeadRow{"huge length", "POST /a HTTP/1.1\r\nContent-Length: 99999999999999999999999",
                GateFault::TooLarge},
        HeadRow{"length not a number", "POST /a HTTP/1.1\r\nContent-Length: 1x",
                GateFault::BadHttp},
        HeadRow{"length twice", "POST /a HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1",
                GateFault::BadHttp},
        parsed("chunked in capitals", "POST /a HTTP/1.1\r\ntransfer-encoding: Chunked", "/a", "",
               chunked),
        HeadRow{"chunked beside a length",
                "POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 3",
                GateFault::BadTransferEncoding},
        HeadRow{"another coding", "POST /a HTTP/1.1\r\nTransfer-Encoding: gzip, chunked",
                GateFault::BadTransferEncoding},
        HeadRow{"coding twice",
                "POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: chunked",
                GateFault::BadTransferEncoding},
        HeadRow{"empty head", "", GateFault::BadHttp},
        HeadRow{"no version", "GET /", GateFault::BadHttp},
        HeadRow{"version 2", "GET / HTTP/2.0", GateFault::BadHttp},
        HeadRow{"absolute target", "GET http://x/ HTTP/1.1", GateFault::BadHttp},
        HeadRow{"space in target", "GET /a b HTTP/1.1", GateFault::BadHttp},
        HeadRow{"bad method", "G(T / HTTP/1.1", GateFault::BadHttp},
        HeadRow{"header without colon", "GET / HTTP/1.1\r\nHost x", GateFault::BadHttp},
        HeadRow{"space in header name", "GET / HTTP/1.1\r\nHo st: x", GateFault::BadHttp},
        HeadRow{"folded header", "GET / HTTP/1.1\r\nA: b\r\n c", GateFault::BadHttp},
        HeadRow{"NUL in header", std::string("GET / HTTP/1.1\r\nA: b\0c", 22), GateFault::BadHttp},
        HeadRow{"bare LF", "GET / HTTP/1.1\nA: b", GateFault::BadHttp},
        HeadRow{"65 header lines", manyHeaders, GateFault::TooLarge},
        HeadRow{"head past 8 KiB", "GET /" + std::string(8200, 'a') + " HTTP/1.1",
                GateFault::TooLarge}),
    [](const testing::TestParamInfo<HeadRow>& info) { return test::testName(info.param.name); });

// Names match without case, a duplicate reads as absent, and a cookie is
// found by its whole name in any Cookie header.
TEST(RequestHeaders, AreFoundByName) {
    GateRequest request;
    ASSERT_TRUE(parseRequestHead(
        "GET / HTTP/1.1\r\nX-Vorn-Client: 1\r\nx-vorn-client: 2\r\nReferer:  b \r\nHOST: h\r\n"
        "Cookie: a=1; forge_session=x\r\ncookie: bramble_pass=t.o.k",
        request));
    EXPECT_FALSE(request.header("x-vorn-client"));
    EXPECT_EQ(request.header("referer"), "b");
    EXPECT_EQ(request.header("host"), "h");
    EXPECT_FALSE(request.header("hos"));
    EXPECT_TRUE(request.hasCookie("bramble_pass"));
    EXPECT_TRUE(request.hasCookie("forge_session"));
    EXPECT_FALSE(request.hasCookie("bramble"));
    EXPECT_FALSE(request.hasCookie("session"));
}

}  // namespace
}  // namespace vorn
