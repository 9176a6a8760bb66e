#include "spop/codec/frame_writer.hpp"

#include <gtest/gtest.h>

#include <string>

#include "spop/codec/frame.hpp"
#include "spop/codec/wire_bytes.hpp"

namespace vorn {
namespace {

using testing_wire::toVector;
using testing_wire::wire;

TEST(FrameWriter, AgentHello) {
    FrameWriter writer;
    auto frame = writeAgentHello(writer, 16384);
    EXPECT_EQ(frame.size(), 58u);
    EXPECT_EQ(toVector(frame), wire("00 00 00 36 65 00 00 00 01 00 00 "
                                    "07 \"version\" 08 03 \"2.0\" "
                                    "0E \"max-frame-size\" 03 F0 F1 06 "
                                    "0C \"capabilities\" 08 00"));
}

TEST(FrameWriter, AgentDisconnect) {
    FrameWriter writer;
    auto frame = writeAgentDisconnect(writer);
    EXPECT_EQ(frame.size(), 38u);
    EXPECT_EQ(toVector(frame), wire("00 00 00 22 66 00 00 00 01 00 00 "
                                    "0B \"status-code\" 03 00 "
                                    "07 \"message\" 08 03 \"bye\""));
}

TEST(FrameWriter, AckWithThreeSetVars) {
    FrameWriter writer;
    writer.begin(FrameType::ack, 300, 2288);
    writer.putSetVar("vorn_verdict", "challenge");
    writer.putSetVar("vorn_difficulty", "16");
    writer.putSetVar("vorn_receipt", "wrong_host");
    auto frame = writer.finish();
    auto actions = wire(
        "01 03 02 0C \"vorn_verdict\" 08 09 \"challenge\" "
        "01 03 02 0F \"vorn_difficulty\" 08 02 \"16\" "
        "01 03 02 0C \"vorn_receipt\" 08 0A \"wrong_host\"");
    EXPECT_EQ(toVector(frame), [&] {
        auto expected = wire("00 00 00 58 67 00 00 00 01 FC 03 F0 80 00");
        expected.insert(expected.end(), actions.begin(), actions.end());
        return expected;
    }());

    // What the writer builds, the cutter reads back.
    auto cut = cutFrame(frame);
    ASSERT_EQ(cut.status, CutFrame::Status::frame);
    EXPECT_EQ(cut.totalSize, frame.size());
    EXPECT_EQ(cut.frame.type, static_cast<std::uint8_t>(FrameType::ack));
    EXPECT_EQ(cut.frame.flags, 1u);
    EXPECT_EQ(cut.frame.streamId, 300u);
    EXPECT_EQ(cut.frame.frameId, 2288u);
    EXPECT_EQ(toVector(cut.frame.payload), actions);
}

TEST(FrameWriter, BeginStartsAFreshFrame) {
    FrameWriter writer;
    writer.begin(FrameType::ack, 1, 1);
    writer.putSetVar("vorn_verdict", "pass");
    (void)writer.finish();
    auto frame = writeAgentDisconnect(writer);
    EXPECT_EQ(frame.size(), 38u);
}

TEST(FrameWriter, WritingPastTheBufferIsCaught) {
    FrameWriter writer;
    writer.begin(FrameType::ack, 0, 0);
    std::string text(FrameWriter::capacity, 'x');
    EXPECT_DEBUG_DEATH(
        {
            writer.putSetVar("vorn_verdict", text);
            // Release builds keep every write inside the buffer.
            EXPECT_EQ(writer.finish().size(), FrameWriter::capacity);
        },
        "larger than its buffer");
}

}  // namespace
}  // namespace vorn
