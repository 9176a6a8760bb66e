#include "observe/metrics_endpoint.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace vorn {
namespace {

struct HeadScan {
    const char* name;
    std::string_view input;
    std::size_t seen;  // bytes looked at by an earlier scan
    bool complete;
};

std::span<const std::byte> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

class RequestHead : public testing::TestWithParam<HeadScan> {};

TEST_P(RequestHead, IsFoundWhereverTheLastScanStopped) {
    const HeadScan& row = GetParam();
    EXPECT_EQ(requestHeadComplete(bytesOf(row.input), row.seen), row.complete);
}

INSTANTIATE_TEST_SUITE_P(
    Scans, RequestHead,
    testing::Values(HeadScan{"Empty", "", 0, false},
                    HeadScan{"WholeHeadFirstScan", "GET / HTTP/1.1\r\n\r\n", 0, true},
                    HeadScan{"EndSplitAfterOneByte", "GET /\r\n\r\n", 6, true},
                    HeadScan{"EndSplitAfterThreeBytes", "GET /\r\n\r\n", 8, true},
                    HeadScan{"EndAllNew", "GET /\r\n\r\n", 5, true},
                    HeadScan{"OnlyCrLfSoFar", "GET /\r\n", 5, false},
                    HeadScan{"NoEmptyLine", "GET /\r\nHost: x\r\n", 7, false},
                    HeadScan{"SeenBeyondTheEndIsNotRescanned", "\r\n\r\nGET", 7, false}),
    [](const testing::TestParamInfo<HeadScan>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vorn
