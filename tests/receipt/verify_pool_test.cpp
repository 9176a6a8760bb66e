#include "receipt/verify_pool.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "token/receipt_checker.hpp"
#include "token/token_maker.hpp"

namespace vorn {
namespace {

// Collects completions; can hold the worker inside post() until released.
class RecordingSink final : public CompletionSink {
public:
    void post(std::uint64_t slot, bool ok) override {
        std::unique_lock lock(mutex_);
        posted_.emplace_back(slot, ok);
        changed_.notify_all();
        changed_.wait(lock, [this] { return !holding_; });
    }

    void hold() {
        std::lock_guard lock(mutex_);
        holding_ = true;
    }
    void release() {
        std::lock_guard lock(mutex_);
        holding_ = false;
        changed_.notify_all();
    }
    [[nodiscard]] bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return posted_.size() >= count; });
    }
    [[nodiscard]] std::vector<std::pair<std::uint64_t, bool>> posted() {
        std::lock_guard lock(mutex_);
        return posted_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<std::uint64_t, bool>> posted_;
    bool holding_ = false;
};

VerifyJob jobFor(std::uint64_t slot, bool forged) {
    static ReceiptKeySet keys = test::keysFor("k1");
    static auto checker = ReceiptChecker::create();
    std::string token = test::mint(test::headerJson(), test::payloadJson("h", 2'000'000'000));
    if (forged) token[token.size() - 5] = token[token.size() - 5] == 'A' ? 'B' : 'A';
    auto receipt = checker->check(token, "h", keys, 1'800'000'000);
    EXPECT_TRUE(receipt.has_value());
    return makeVerifyJob(*receipt, slot, 0);
}

TEST(VerifyPool, OneWorkerAnswersInSubmissionOrder) {
    RecordingSink sink;
    VerifyPool pool;
    ASSERT_TRUE(pool.start(1, sink).has_value());
    std::vector<std::pair<std::uint64_t, bool>> expected;
    for (std::uint64_t slot = 0; slot < 64; ++slot) {
        const bool forged = slot % 3 == 1;
        ASSERT_TRUE(pool.submit(jobFor(slot, forged)));
        expected.emplace_back(slot, !forged);
    }
    ASSERT_TRUE(sink.waitFor(expected.size()));
    pool.stop();
    EXPECT_EQ(sink.posted(), expected);
}

TEST(VerifyPool, JobsThatCannotVerifyAreNotOk) {
    RecordingSink sink;
    VerifyPool pool;
    ASSERT_TRUE(pool.start(2, sink).has_value());
    VerifyJob tooLong = jobFor(1, false);
    tooLong.messageLength = maxSigningInputLength + 1;
    VerifyJob notCanonical = jobFor(2, false);
    notCanonical.publicKey.fill(std::byte{0xff});
    notCanonical.publicKey[31] = std::byte{0x7f};
    ASSERT_TRUE(pool.submit(tooLong));
    ASSERT_TRUE(pool.submit(notCanonical));
    ASSERT_TRUE(sink.waitFor(2));
    pool.stop();
    for (const auto& [slot, ok] : sink.posted()) EXPECT_FALSE(ok) << slot;
}

// Checking what is left would take the worker a good part of a second; stop
// drops it and waits only for the check in the worker's hands.
TEST(VerifyPool, FullRingRefusesAndStopDropsQueuedJobs) {
    RecordingSink sink;
    VerifyPool pool;
    sink.hold();
    ASSERT_TRUE(pool.start(1, sink).has_value());
    const VerifyJob job = jobFor(0, false);
    ASSERT_TRUE(pool.submit(job));
    ASSERT_TRUE(sink.waitFor(1));  // the worker now waits inside post()
    for (std::size_t i = 0; i < VerifyPool::ringCapacity; ++i) ASSERT_TRUE(pool.submit(job)) << i;
    EXPECT_FALSE(pool.submit(job));
    std::thread releaser([&sink] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sink.release();
    });
    pool.stop();
    releaser.join();
    EXPECT_LT(sink.posted().size(), VerifyPool::ringCapacity + 1);
    EXPECT_FALSE(pool.submit(job));
}

TEST(VerifyPool, RefusesBadThreadCountsAndSubmitBeforeStart) {
    RecordingSink sink;
    VerifyPool pool;
    EXPECT_FALSE(pool.submit(VerifyJob{}));
    EXPECT_EQ(pool.start(0, sink).error(), Error::InvalidArgument);
    EXPECT_EQ(pool.start(VerifyPool::maxThreads + 1, sink).error(), Error::InvalidArgument);
    ASSERT_TRUE(pool.start(VerifyPool::maxThreads, sink).has_value());
    EXPECT_EQ(pool.start(1, sink).error(), Error::InvalidArgument);
    pool.stop();
    pool.stop();
}

}  // namespace
}  // namespace vorn
