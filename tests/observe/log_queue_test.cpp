#include "observe/log_queue.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "observe/log_line.hpp"
#include "observe/pipe_capture.hpp"

namespace vorn {
namespace {

using namespace std::chrono_literals;

// A line of `length` bytes that names its position in the sequence.
std::string numberedLine(std::size_t index, std::size_t length) {
    std::string line = std::to_string(index) + ":";
    line.resize(length, static_cast<char>('a' + index % 26));
    return line;
}

// Pushes, retrying while the writer makes room; false after a few seconds
// without room.
bool pushPatiently(LogQueue& queue, std::string_view line) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!queue.push(line)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string joinedLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// Everything the writer wrote, once the queue has stopped.
std::future<std::string> collect(test::Pipe& pipe) {
    return std::async(std::launch::async, [&pipe] { return test::readUntilEof(pipe.readEnd()); });
}

TEST(LogQueue, PushBeforeStartFails) {
    LogQueue queue;
    EXPECT_FALSE(queue.push("early"));
}

TEST(LogQueue, RejectsLineLongerThanALogLine) {
    test::Pipe pipe;
    LogQueue queue(pipe.writeEnd());
    ASSERT_TRUE(queue.start().has_value());
    EXPECT_FALSE(queue.push(std::string(logLineCapacity + 1, 'x')));
    EXPECT_TRUE(queue.push(std::string(logLineCapacity, 'x')));
    auto output = collect(pipe);
    queue.stop();
    pipe.closeWrite();
    EXPECT_EQ(output.get(), std::string(logLineCapacity, 'x') + "\n");
}

TEST(LogQueue, KeepsOrderAcrossTheRingEnd) {
    // Records occupy line length + 3 bytes. 524 records of 1000 bytes and one
    // of 287 end at capacity - 1, so the next record's length bytes straddle
    // the end; 523 more records later a record's line straddles it.
    std::vector<std::size_t> lengths(524, 997);
    lengths.push_back(284);
    lengths.insert(lengths.end(), 600, 997);
    lengths.push_back(0);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < lengths.size(); ++i) lines.push_back(numberedLine(i, lengths[i]));

    test::Pipe pipe;
    LogQueue queue(pipe.writeEnd());
    ASSERT_TRUE(queue.start().has_value());
    auto output = collect(pipe);
    for (const std::string& line : lines) ASSERT_TRUE(pushPatiently(queue, line));
    queue.stop();
    pipe.closeWrite();
    EXPECT_EQ(output.get(), joinedLines(lines));
}

TEST(LogQueue, FullRingRefusesAndStopDrainsEverythingQueued) {
    test::Pipe pipe;
    LogQueue queue(pipe.writeEnd());
    ASSERT_TRUE(queue.start().has_value());
    // Nobody reads yet: the writer blocks on the full pipe and the ring fills.
    std::vector<std::string> accepted;
    constexpr std::size_t bound = 10 * LogQueue::capacity / logLineCapacity;
    while (accepted.size() < bound) {
        std::string line = numberedLine(accepted.size(), logLineCapacity);
        if (!queue.push(line)) break;
        accepted.push_back(std::move(line));
    }
    ASSERT_LT(accepted.size(), bound);
    EXPECT_GE(accepted.size(), LogQueue::capacity / (logLineCapacity + 3));

    auto output = collect(pipe);
    queue.stop();
    pipe.closeWrite();
    EXPECT_EQ(output.get(), joinedLines(accepted));
    EXPECT_FALSE(queue.push("after stop"));
}

// Verdict lines leave the last 65,536 bytes of the ring to ordinary lines:
// with the writer's one batch stuck on a full pipe, 15 of the longest
// ordinary lines (records of 4,098 bytes) still fit after verdict lines,
// none after ordinary ones.
TEST(LogQueue, VerdictLinesLeaveAReserveToOrdinaryLines) {
    using enum LogQueue::LineKind;
    for (auto [filler, room, messagesAfter] :
         {std::tuple{verdict, LogQueue::capacity - LogQueue::messageReserve, 15u},
          std::tuple{message, LogQueue::capacity, 0u}}) {
        SCOPED_TRACE(filler == verdict ? "after verdict lines" : "after ordinary lines");
        test::Pipe pipe;
        test::fillPipe(pipe.writeEnd());
        LogQueue queue(pipe.writeEnd());
        ASSERT_TRUE(queue.start().has_value());
        // Records of 1,024 bytes fill either share exactly.
        const std::string line(1021, 'f');
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::size_t accepted = 0;
        while (accepted <= room / 1024 && std::chrono::steady_clock::now() < deadline) {
            while (queue.push(line, filler)) ++accepted;
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_GT(accepted, room / 1024) << "the writer took no batch";
        EXPECT_FALSE(queue.push("", verdict));
        const std::string longest(logLineCapacity, 'm');
        unsigned messages = 0;
        while (messages <= messagesAfter && queue.push(longest)) ++messages;
        EXPECT_EQ(messages, messagesAfter);
        auto output = collect(pipe);
        queue.stop();
        pipe.closeWrite();
        (void)output.get();
    }
}

TEST(LogQueue, WriteErrorLosesTheBatchButNotTheWriter) {
    test::Pipe pipe;
    LogQueue queue(pipe.writeEnd());
    ASSERT_TRUE(queue.start().has_value());
    pipe.closeRead();  // writes now fail with EPIPE (SIGPIPE is blocked in the writer)
    EXPECT_TRUE(queue.push("lost"));
    queue.stop();  // returns: the writer went on after the failed write
}

TEST(LogQueue, PublishedPointer) {
    LogQueue queue;
    EXPECT_EQ(publishedLogQueue(), nullptr);
    publishLogQueue(&queue);
    EXPECT_EQ(publishedLogQueue(), &queue);
    publishLogQueue(nullptr);
    EXPECT_EQ(publishedLogQueue(), nullptr);
}

}  // namespace
}  // namespace vorn
