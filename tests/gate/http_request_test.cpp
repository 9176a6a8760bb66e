#include "http_request.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/test_name.hpp"

namespace vorn::gate {
namespace {

struct HeadRow {
    std::string name;
    std::string head;
    std::optional<Fault> fault;  // nothing: parsed
    std::string path{};
    std::string query{};
    std::optional<std::size_t> body{};  // the body length, when parsed
};

void PrintTo(const HeadRow& row, std::ostream* out) {
    *out << row.name;
}

class HttpHead : public testing::TestWithParam<HeadRow> {};

TEST_P(HttpHead, ParsesOrRefuses) {
    const HeadRow& row = GetParam();
    auto request = parseHttpHead(row.head);
    if (row.fault && !request) {
        EXPECT_EQ(request.error(), *row.fault);
        return;
    }
    ASSERT_TRUE(request.has_value()) << faultName(request.error());
    auto length = bodyLength(*request);
    if (row.fault) {
        ASSERT_FALSE(length.has_value());
        EXPECT_EQ(length.error(), *row.fault);
        return;
    }
    EXPECT_EQ(request->path, row.path);
    EXPECT_EQ(request->query, row.query);
    EXPECT_EQ(length.value_or(99999), row.body.value_or(0));
}

const std::string manyHeaders = [] {
    std::string head = "GET / HTTP/1.1";
    for (int i = 0; i < 65; ++i) head += "\r\nx-h" + std::to_string(i) + ": v";
    return head;
}();

INSTANTIATE_TEST_SUITE_P(
    Rows, HttpHead,
    testing::Values(
        HeadRow{"plain get", "GET /a/b HTTP/1.1\r\nHost: x", {}, "/a/b"},
        HeadRow{"query kept encoded", "GET /p?return=%2Fx HTTP/1.0", {}, "/p", "return=%2Fx"},
        HeadRow{"form body", "POST /a HTTP/1.1\r\nContent-Length: 12", {}, "/a", "", 12},
        HeadRow{
            "body at the limit", "POST /a HTTP/1.1\r\ncontent-length: 4096", {}, "/a", "", 4096},
        HeadRow{"body past the limit", "POST /a HTTP/1.1\r\nContent-Length: 4097", Fault::TooLarge},
        HeadRow{"huge length", "POST /a HTTP/1.1\r\nContent-Length: 99999999999999999999999",
                Fault::TooLarge},
        HeadRow{"length not a number", "POST /a HTTP/1.1\r\nContent-Length: 1x", Fault::BadHttp},
        HeadRow{"length twice", "POST /a HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1",
                Fault::BadHttp},
        HeadRow{"chunked body", "POST /a HTTP/1.1\r\nTransfer-Encoding: chunked", Fault::BadHttp},
        HeadRow{"empty head", "", Fault::BadHttp}, HeadRow{"no version", "GET /", Fault::BadHttp},
        HeadRow{"version 2", "GET / HTTP/2.0", Fault::BadHttp},
        HeadRow{"absolute target", "GET http://x/ HTTP/1.1", Fault::BadHttp},
        HeadRow{"space in target", "GET /a b HTTP/1.1", Fault::BadHttp},
        HeadRow{"bad method", "G(T / HTTP/1.1", Fault::BadHttp},
        HeadRow{"header without colon", "GET / HTTP/1.1\r\nHost x", Fault::BadHttp},
        HeadRow{"space in header name", "GET / HTTP/1.1\r\nHo st: x", Fault::BadHttp},
        HeadRow{"folded header", "GET / HTTP/1.1\r\nA: b\r\n c", Fault::BadHttp},
        HeadRow{"NUL in header", std::string("GET / HTTP/1.1\r\nA: b\0c", 22), Fault::BadHttp},
        HeadRow{"bare LF", "GET / HTTP/1.1\nA: b", Fault::BadHttp},
        HeadRow{"65 header lines", manyHeaders, Fault::TooLarge},
        HeadRow{"head past 8 KiB", "GET /" + std::string(8200, 'a') + " HTTP/1.1",
                Fault::TooLarge}),
    [](const testing::TestParamInfo<HeadRow>& info) { return test::testName(info.param.name); });

TEST(HttpHeader, ADuplicateHeaderReadsAsAbsent) {
    auto request =
        parseHttpHead("GET / HTTP/1.1\r\nX-Vorn-Client: 1\r\nx-vorn-client: 2\r\nA:  b ");
    ASSERT_TRUE(request);
    EXPECT_FALSE(request->header("x-vorn-client"));
    EXPECT_EQ(request->header("a"), "b");
}

}  // namespace
}  // namespace vorn::gate
