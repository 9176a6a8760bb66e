#include "spop/codec/frame.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "spop/codec/wire_bytes.hpp"

namespace vorn {
namespace {

using testing_wire::toVector;
using testing_wire::wire;
using Status = CutFrame::Status;

struct CutCase {
    std::string name;
    std::string input;
    Status status;
};

void PrintTo(const CutCase& row, std::ostream* out) {
    *out << row.name;
}

class CutFrameStatus : public testing::TestWithParam<CutCase> {};

TEST_P(CutFrameStatus, Reports) {
    auto bytes = wire(GetParam().input);
    EXPECT_EQ(cutFrame(bytes).status, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CutFrameStatus,
    testing::Values(
        CutCase{"Empty", "", Status::needMore},
        CutCase{"ThreeLengthBytes", "00 00 00", Status::needMore},
        CutCase{"LengthZero", "00 00 00 00", Status::badLength},
        CutCase{"LengthFour", "00 00 00 04 03 00 00 00", Status::badLength},
        CutCase{"Length16385WithoutBody", "00 00 40 01", Status::badLength},
        CutCase{"LengthHuge", "FF FF FF FF", Status::badLength},
        CutCase{"BodyNotYetIn", "00 00 00 07 03 00 00 00 01 00", Status::needMore},
        CutCase{"LengthFiveHasNoStreamId", "00 00 00 05 03 00 00 00 01", Status::malformed},
        CutCase{"LengthSixHasNoFrameId", "00 00 00 06 03 00 00 00 01 05", Status::malformed},
        CutCase{"StreamIdRunsPastFrame", "00 00 00 07 03 00 00 00 01 F0 80 00", Status::malformed},
        CutCase{"TwoByteStreamIdLeavesNoFrameId", "00 00 00 07 03 00 00 00 01 F0 00 00",
                Status::malformed},
        CutCase{"FrameIdRunsPastFrame", "00 00 00 08 03 00 00 00 01 00 F0 80 00",
                Status::malformed},
        CutCase{"StreamIdBeyond64Bits",
                "00 00 00 10 03 00 00 00 01 F0 F1 FE FE FE FE FE FE FE 0E 00", Status::malformed},
        CutCase{"LengthSevenIsEmptyPayload", "00 00 00 07 03 00 00 00 01 00 00", Status::frame},
        CutCase{"UnknownTypeIsAFrame", "00 00 00 07 C8 00 00 00 00 00 00", Status::frame}),
    [](const auto& info) { return info.param.name; });

TEST(CutFrame, DecodesFieldsAndViewsPayload) {
    auto bytes = wire("00 00 00 0D 03 12 34 56 78 FC 03 F0 00 \"pay\" 01 02 03 04 05");
    auto cut = cutFrame(bytes);
    ASSERT_EQ(cut.status, Status::frame);
    EXPECT_EQ(cut.frame.type, static_cast<std::uint8_t>(FrameType::notify));
    EXPECT_EQ(cut.frame.flags, 0x12345678u);
    EXPECT_EQ(cut.frame.streamId, 300u);
    EXPECT_EQ(cut.frame.frameId, 240u);
    EXPECT_EQ(cut.totalSize, 17u);
    // The payload ends with the frame, not with the buffer.
    EXPECT_EQ(toVector(cut.frame.payload), wire("\"pay\" 01"));
    EXPECT_EQ(cut.frame.payload.data(), bytes.data() + 13);
}

TEST(CutFrame, AcceptsTheLargestLength) {
    std::vector<std::byte> bytes = wire("00 00 40 00 03 00 00 00 01 00 00");
    bytes.resize(4 + maxFrameLength + 3, std::byte{0xAB});
    auto cut = cutFrame(bytes);
    ASSERT_EQ(cut.status, Status::frame);
    EXPECT_EQ(cut.totalSize, 4 + maxFrameLength);
    EXPECT_EQ(cut.frame.payload.size(), maxFrameLength - 7);
}

// Bytes arriving one at a time: every prefix shorter than the frame needs
// more, and the complete frame decodes to the same fields however it came.
TEST(CutFrame, SplitAtEveryByteBoundary) {
    auto stream =
        wire("00 00 00 0C 03 00 00 00 01 FC 03 07 \"abcd\" 00 00 00 07 01 00 00 00 01 00 00");
    auto first = cutFrame(stream);
    ASSERT_EQ(first.status, Status::frame);
    ASSERT_EQ(first.totalSize, 16u);
    for (std::size_t n = 0; n < first.totalSize; ++n) {
        EXPECT_EQ(cutFrame(std::span(stream).first(n)).status, Status::needMore) << n;
    }
    auto exact = cutFrame(std::span(stream).first(first.totalSize));
    ASSERT_EQ(exact.status, Status::frame);
    EXPECT_EQ(exact.totalSize, first.totalSize);
    EXPECT_EQ(exact.frame.streamId, 300u);
    EXPECT_EQ(exact.frame.frameId, 7u);
    EXPECT_EQ(toVector(exact.frame.payload), wire("\"abcd\""));

    auto second = cutFrame(std::span(stream).subspan(first.totalSize));
    ASSERT_EQ(second.status, Status::frame);
    EXPECT_EQ(second.frame.type, static_cast<std::uint8_t>(FrameType::haproxyHello));
    EXPECT_TRUE(second.frame.payload.empty());
}

}  // namespace
}  // namespace vorn
