// The request path allocates nothing: a batch of NOTIFYs of a forge's mix,
// with receipts that the book already knows, malformed and foreign ones,
// runs under a counting operator new. The rolling statistics' address tables
// grow by doubling when more distinct addresses than ever are seen, so the
// mix runs once before it is counted.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "decision/request_decision.hpp"
#include "support/allocation_count.hpp"
#include "support/spop_wire.hpp"
#include "support/vorn_check.hpp"
#include "token/token_maker.hpp"

namespace vorn {
namespace {

// Hands a worker's result to the test thread.
class Completions final : public CompletionSink {
public:
    void post(std::uint64_t slot, bool ok) override {
        std::lock_guard lock(mutex_);
        result_ = {slot, ok};
        done_.notify_one();
    }
    std::optional<std::pair<std::uint64_t, bool>> await() {
        std::unique_lock lock(mutex_);
        done_.wait_for(lock, std::chrono::seconds(5), [this] { return result_.has_value(); });
        return std::exchange(result_, std::nullopt);
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::optional<std::pair<std::uint64_t, bool>> result_;
};

// Keeps the answer of a parked request.
class Answers final : public ParkedNotifies {
public:
    void answerParked(std::uint16_t, const NotifyReply& reply) override { last = reply; }
    std::optional<NotifyReply> last;
};

std::string payload(const std::string& path, const std::string& cookie, std::uint8_t host) {
    test::VornCheck check;
    check.ip = test::Ipv4Bytes{198, 51, 100, host};
    check.backlog = std::int64_t{2};
    check.path = path;
    check.headers = test::headerBlock({{"host", VORN_SITE_DOMAIN},
                                       {"user-agent", "Mozilla/5.0 (X11; Linux x86_64; rv:128.0)"},
                                       {"accept", "text/html"},
                                       {"cookie", cookie},
                                       {"sec-fetch-site", "same-origin"}});
    return test::messageList({check.message()});
}

std::span<const std::byte> bytesOf(const std::string& text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

TEST(RequestPath, AllocatesNothingOnceStartedReceiptsIncluded) {
    StatsBlock stats;
    ChallengePolicy challenge;
    challenge.mode = ChallengeMode::on;
    challenge.keysLoaded = true;
    challenge.difficulty = {1.0 / 8192, 1.0 / 2048, 1.0 / 2048};
    DecisionState state(BacklogMeter(4, 16, 300 * nanosPerSecond), *ClassWindows::create(1 << 20),
                        challenge, LogVerdicts::all, stats);
    auto receipts = ReceiptState::create(600, 4);
    ASSERT_TRUE(receipts);
    receipts->keys = test::keysFor("k1");
    Completions completions;
    VerifyPool pool;
    ASSERT_TRUE(pool.start(1, completions));
    receipts->pool = &pool;
    Answers answers;
    auto decision = std::make_unique<RequestDecision>(state, *receipts, answers);

    // The book learns the receipt once, through a worker.
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    const std::string token =
        test::mint(test::headerJson("k1"), test::payloadJson(VORN_SITE_DOMAIN, now + 600));
    auto parked = decision->handleNotify(
        bytesOf(payload("/o/r/issues", "bramble_pass=" + token, 1)), wallClockNanos());
    ASSERT_TRUE(parked && parked->parkedSlot);
    auto checked = completions.await();
    ASSERT_TRUE(checked && checked->second);
    decision->completeCheck(*parked->parkedSlot, true);
    ASSERT_TRUE(answers.last && answers.last->receipt == ReceiptStatus::valid);
    decision->replied(*answers.last);

    const std::vector<std::string> mix = {
        payload("/o/r/commit/0123456789abcdef0123456789abcdef01234567", "bramble_pass=" + token, 1),
        payload("/o/r/src/branch/main/README.md", "lang=en", 2),
        payload("/o/r/issues?page=2", "bramble_pass=" + token, 1),
        payload("/o/r/commit/0123456789abcdef0123", "", 3),
        payload("/api/v1/repos/o/r", "bramble_pass=not.a.token", 4),
        payload("/o/r/archive/main.tar.gz", "forge_session=1; bramble_pass=" + token, 1),
        payload("/assets/css/index.css", "", 5),
        payload("/.well-known/bramblegate/", "", 6),
    };
    auto runMix = [&] {
        for (const std::string& notify : mix) {
            auto reply = decision->handleNotify(bytesOf(notify), wallClockNanos());
            ASSERT_TRUE(reply && !reply->parkedSlot);
            decision->replied(*reply);
        }
    };
    runMix();
    const std::size_t before = test::allocationCount();
    for (int round = 1; round < 50; ++round) runMix();
    EXPECT_EQ(test::allocationCount(), before);
    EXPECT_EQ(stats.receipts[indexOf(ReceiptStatus::valid)], 151u);
    pool.stop();
}

}  // namespace
}  // namespace vorn
