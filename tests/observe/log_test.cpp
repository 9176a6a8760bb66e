#include "observe/log.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <regex>
#include <string>
#include <thread>

#include "observe/log_queue.hpp"
#include "observe/pipe_capture.hpp"
#include "observe/verdict_log.hpp"

namespace vorn {
namespace {

const std::regex prefix(R"(ts=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )");

bool isLine(const std::string& text, const std::string& afterPrefix) {
    std::smatch match;
    return std::regex_search(text, match, prefix, std::regex_constants::match_continuous) &&
           text.substr(static_cast<std::size_t>(match.length())) == afterPrefix;
}

TEST(Log, WithoutQueueWritesDirectly) {
    test::StandardErrorCapture standardError;
    logMessage(LogLevel::info, "SPOP on /var/run/vorn-spoa.sock");
    EXPECT_PRED2(isLine, standardError.taken(),
                 "level=info msg=\"SPOP on /var/run/vorn-spoa.sock\"\n");
}

TEST(Log, DirectLineIsCutBeforeItsNewline) {
    test::StandardErrorCapture standardError;
    writeDirect(std::string(5000, 'x'));
    EXPECT_EQ(standardError.taken(), std::string(logLineCapacity, 'x') + "\n");
}

TEST(Log, PublishedQueueCarriesTheLine) {
    test::Pipe pipe;
    LogQueue queue(pipe.writeEnd());
    ASSERT_TRUE(queue.start().has_value());
    auto output =
        std::async(std::launch::async, [&pipe] { return test::readUntilEof(pipe.readEnd()); });
    test::StandardErrorCapture standardError;
    publishLogQueue(&queue);
    logMessage(LogLevel::error, "Unexpected");
    publishLogQueue(nullptr);
    queue.stop();
    pipe.closeWrite();
    EXPECT_PRED2(isLine, output.get(), "level=error msg=Unexpected\n");
    EXPECT_EQ(standardError.taken(), "");
}

// Fills the ring for good. With the pipe full, the writer takes one batch
// and blocks writing it. The ring alone holds 127 longest lines, so
// accepting more shows that the batch has been taken and nothing will make
// room again; empty lines then take up the last few bytes.
bool fillForGood(LogQueue& queue) {
    const std::string filler(logLineCapacity, 'f');
    const std::size_t ringAlone = LogQueue::capacity / (logLineCapacity + 3);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::size_t accepted = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        while (queue.push(filler)) ++accepted;
        if (accepted > ringAlone) {
            while (queue.push("")) {
            }
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// With the ring full nothing is written on the producer's thread: the
// ordinary line and the verdict line are both dropped and counted.
TEST(Log, FullRingDropsAndCountsOrdinaryLinesAndVerdicts) {
    test::Pipe pipe;
    test::fillPipe(pipe.writeEnd());
    LogQueue queue(pipe.writeEnd());
    ASSERT_TRUE(queue.start().has_value());
    ASSERT_TRUE(fillForGood(queue));

    test::StandardErrorCapture standardError;
    StatsBlock stats;
    const std::uint64_t droppedBefore = logMessagesDropped();
    publishLogQueue(&queue);
    logMessage(LogLevel::warning, "ring full");
    logVerdict(VerdictRecord{.ip = "192.0.2.7", .verdict = Verdict::trap, .reason = Reason::bogus},
               LogVerdicts::all, stats);
    publishLogQueue(nullptr);

    EXPECT_EQ(standardError.taken(), "");
    EXPECT_EQ(logMessagesDropped(), droppedBefore + 1);
    EXPECT_EQ(stats.logDropped, 1u);
    auto output =
        std::async(std::launch::async, [&pipe] { return test::readUntilEof(pipe.readEnd()); });
    queue.stop();
    pipe.closeWrite();
    const std::string written = output.get();
    EXPECT_EQ(written.find("event=verdict"), std::string::npos);
    EXPECT_EQ(written.find("ring full"), std::string::npos);
}

}  // namespace
}  // namespace vorn
