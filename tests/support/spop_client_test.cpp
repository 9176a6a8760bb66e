#include "support/spop_client.hpp"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/hex.hpp"
#include "support/scripted_peer.hpp"
#include "support/temp_dir.hpp"

namespace vorn::test {
namespace {

Bytes workedAgentHello() {
    return *fromHex("00 00 00 36 65 00 00 00 01 00 00 07") + "version" + *fromHex("08 03") + "2.0" +
           *fromHex("0e") + "max-frame-size" + *fromHex("03 f0 f1 06 0c") + "capabilities" +
           *fromHex("08 00");
}

Bytes ackOf(std::uint64_t id, std::string_view verdict) {
    return frame(FrameType::Ack, finFlag, id, id,
                 *fromHex("01 03 02") + spopString("vorn_verdict") + stringValue(verdict));
}

// Reads until at least one whole frame from the client has arrived.
Bytes readFrame(int fd) {
    std::string bytes;
    for (;;) {
        auto size = wholeFrameSize(bytes);
        if (!size.has_value()) return {};
        if (*size > 0) return bytes;
        if (!readAtLeast(fd, bytes, bytes.size() + 1)) return {};
    }
}

class SpopClientTest : public testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("agent.sock");
};

TEST_F(SpopClientTest, HelloExchange) {
    Bytes received;
    {
        ScriptedPeer agent(listenUnix(path), [&](int fd) {
            received = readFrame(fd);
            writeAll(fd, workedAgentHello());
        });
        auto client = SpopClient::connect(path);
        ASSERT_TRUE(client.has_value());
        auto reply = client->hello();
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->uintItem("max-frame-size"), 16384U);
    }
    EXPECT_EQ(toHex(received), toHex(haproxyHello()));
}

TEST_F(SpopClientTest, ConnectWaitsForTheListener) {
    std::thread late([this] {
        std::this_thread::sleep_for(Millis{100});
        ScriptedPeer agent(listenUnix(path), [](int fd) { writeAll(fd, ackOf(1, "pass")); });
    });
    auto client = SpopClient::connect(path);
    ASSERT_TRUE(client.has_value());
    EXPECT_TRUE(client->receive().has_value());
    late.join();
}

TEST_F(SpopClientTest, ConnectGivesUp) {
    EXPECT_NONFATAL_FAILURE(static_cast<void>(SpopClient::connect(path, Millis{50})),
                            "connecting to");
}

TEST_F(SpopClientTest, SplitSendArrivesWholeAndRepliesArriveTogether) {
    auto notifyFrame = notify(1, 1, VornCheck{});
    Bytes received;
    {
        ScriptedPeer agent(listenUnix(path), [&](int fd) {
            readAtLeast(fd, received, notifyFrame.size());
            writeAll(fd, ackOf(1, "pass") + ackOf(2, "trap"));
        });
        auto client = SpopClient::connect(path);
        ASSERT_TRUE(client.has_value());
        ASSERT_TRUE(client->sendSplit(notifyFrame, {1, 5, 9}));
        auto first = client->receive();
        auto second = client->receive();
        ASSERT_TRUE(first.has_value() && second.has_value());
        EXPECT_EQ(first->vars.at("vorn_verdict"), "pass");
        EXPECT_EQ(second->vars.at("vorn_verdict"), "trap");
    }
    EXPECT_EQ(toHex(received), toHex(notifyFrame));
}

TEST_F(SpopClientTest, DecideMatchesTheAck) {
    ScriptedPeer agent(listenUnix(path), [](int fd) {
        readFrame(fd);
        writeAll(fd, ackOf(1, "watch"));
        readFrame(fd);
        writeAll(fd, ackOf(1, "pass"));
    });
    auto client = SpopClient::connect(path);
    ASSERT_TRUE(client.has_value());
    auto first = client->decide(VornCheck{});
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->vars.at("vorn_verdict"), "watch");
    EXPECT_NONFATAL_FAILURE(static_cast<void>(client->decide(VornCheck{})), "stream 2");
}

TEST_F(SpopClientTest, WaitClosedAfterTheLastFrame) {
    ScriptedPeer agent(listenUnix(path), [](int fd) { writeAll(fd, ackOf(1, "pass")); });
    auto client = SpopClient::connect(path);
    ASSERT_TRUE(client.has_value());
    ASSERT_TRUE(client->receive().has_value());
    EXPECT_TRUE(client->waitClosed());
}

TEST_F(SpopClientTest, WaitClosedFailsOnUnreadBytes) {
    ScriptedPeer agent(listenUnix(path), [](int fd) { writeAll(fd, ackOf(1, "pass")); });
    auto client = SpopClient::connect(path);
    ASSERT_TRUE(client.has_value());
    EXPECT_NONFATAL_FAILURE(EXPECT_FALSE(client->waitClosed()), "unread bytes");
}

TEST_F(SpopClientTest, SilenceAndTimeout) {
    ScriptedPeer agent(listenUnix(path), [](int fd) {
        std::string ignored;
        readAtLeast(fd, ignored, 1);
    });
    auto client = SpopClient::connect(path);
    ASSERT_TRUE(client.has_value());
    EXPECT_TRUE(client->quietFor(Millis{30}));
    EXPECT_NONFATAL_FAILURE(static_cast<void>(client->receive(Millis{30})), "timed out");
    ASSERT_TRUE(client->send("x"));
}

TEST_F(SpopClientTest, MalformedFrameFailsTheTest) {
    ScriptedPeer agent(listenUnix(path),
                       [](int fd) { writeAll(fd, frame(FrameType::Ack, 0, 1, 1, "")); });
    auto client = SpopClient::connect(path);
    ASSERT_TRUE(client.has_value());
    EXPECT_NONFATAL_FAILURE(static_cast<void>(client->receive()), "flags 0");
}

}  // namespace
}  // namespace vorn::test
