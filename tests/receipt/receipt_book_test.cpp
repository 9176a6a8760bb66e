#include "receipt/receipt_book.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/allocation_count.hpp"

namespace vorn {
namespace {

constexpr std::int64_t t0 = 1'800'000'000;
constexpr std::int64_t farExp = t0 + 86400;
constexpr std::uint64_t fp = 0xf1f1;

Jti jtiOf(std::uint32_t n) {
    Jti jti{};
    for (std::size_t i = 0; i < 4; ++i) jti[i] = std::byte(n >> (8 * i));
    return jti;
}

ReceiptBook makeBook(std::uint32_t maxRequests = 600, std::uint8_t maxIps = 4) {
    auto book = ReceiptBook::create(maxRequests, maxIps);
    EXPECT_TRUE(book.has_value());
    return std::move(*book);
}

// The first request of a receipt: the book asks for a check, the check
// succeeds.
ReceiptStatus firstUse(ReceiptBook& book, std::uint32_t n, std::uint64_t ip, std::int64_t now) {
    BookAnswer answer = book.lookup(jtiOf(n), fp, farExp, ip, now);
    EXPECT_TRUE(answer.needsCheck);
    return book.complete(jtiOf(n), fp, true, ip, now);
}

ReceiptStatus use(ReceiptBook& book, std::uint64_t ip, std::int64_t now) {
    BookAnswer answer = book.lookup(jtiOf(1), fp, farExp, ip, now);
    EXPECT_FALSE(answer.needsCheck);
    return answer.status;
}

constexpr std::uint64_t A = 0xa, B = 0xb, C = 0xc, D = 0xd, E = 0xe, F = 0xf, G = 0x10, H = 0x11,
                        I = 0x12, noAddress = 0;

// `times` uses of receipt 1 at t0 + `at` from `ip`; the last must give
// `expected`, the others valid.
struct Uses {
    std::int64_t at;
    std::uint64_t ip;
    ReceiptStatus expected = ReceiptStatus::valid;
    int times = 1;
};

struct LimitRow {
    std::string name;
    std::uint32_t maxRequests;
    std::vector<Uses> uses;  // the first use goes through lookup and complete
    std::uint64_t revokedTotal;
};

void PrintTo(const LimitRow& row, std::ostream* out) {
    *out << row.name;
}

class BookLimits : public testing::TestWithParam<LimitRow> {};

TEST_P(BookLimits, AdmitsOrRevokes) {
    ReceiptBook book = makeBook(GetParam().maxRequests, 4);
    bool first = true;
    int step = 0;
    for (const Uses& uses : GetParam().uses) {
        for (int i = 0; i < uses.times; ++i) {
            const bool last = i + 1 == uses.times;
            ReceiptStatus status =
                first ? firstUse(book, 1, uses.ip, t0 + uses.at) : use(book, uses.ip, t0 + uses.at);
            first = false;
            ASSERT_EQ(status, last ? uses.expected : ReceiptStatus::valid)
                << "step " << step << " use " << i;
        }
        ++step;
    }
    EXPECT_EQ(book.revokedTotal(), GetParam().revokedTotal);
}

using S = ReceiptStatus;

INSTANTIATE_TEST_SUITE_P(
    Receipts, BookLimits,
    testing::Values(
        LimitRow{"Uses601Admitted", 600, {{0, A}, {1, A, S::valid, 600}}, 0},
        LimitRow{"Use602Revokes",
                 600,
                 {{0, A}, {1, A, S::valid, 600}, {2, A, S::revoked}, {3, A, S::revoked}},
                 1},
        LimitRow{"FourAddresses", 600, {{0, A}, {0, B}, {0, C}, {0, D}, {1, A}, {2, D}}, 0},
        LimitRow{"FifthAddressRevokes",
                 600,
                 {{0, A}, {0, B}, {0, C}, {0, D}, {599, E, S::revoked}, {600, A, S::revoked}},
                 1},
        LimitRow{"StaleAddressesMakeRoom",
                 600,
                 {{0, A},
                  {0, B},
                  {0, C},
                  {0, D},
                  {600, E},
                  {600, F},
                  {600, G},
                  {600, H},
                  {600, I, S::revoked}},
                 1},
        LimitRow{"RefreshedAddressStaysLive",
                 600,
                 {{0, A},
                  {0, B},
                  {0, C},
                  {0, D},
                  {500, A},
                  {650, E},
                  {650, F},
                  {650, G},
                  {650, H, S::revoked}},
                 1},
        LimitRow{"ReturningAddressTakesNoSlot",
                 600,
                 {{0, A},
                  {0, B},
                  {0, C},
                  {0, D},
                  {700, A},
                  {700, B},
                  {700, C},
                  {700, D},
                  {700, E, S::revoked}},
                 1},
        LimitRow{"EmptyAddressNotAnAddress",
                 600,
                 {{0, A}, {0, B}, {0, C}, {0, D}, {1, noAddress, S::valid, 5}},
                 0},
        LimitRow{"EmptyAddressCountsRequests",
                 3,
                 {{0, noAddress}, {1, noAddress, S::valid, 3}, {1, noAddress, S::revoked}},
                 1},
        LimitRow{
            "FirstUseAfterLongPauseNotCounted",
            3,
            {{0, A}, {1, A, S::valid, 3}, {1200, A}, {1201, A, S::valid, 3}, {1202, A, S::revoked}},
            1},
        LimitRow{"WindowMoveCountsInClosingWindow",
                 10,
                 {{0, A}, {1, A, S::valid, 10}, {600, A, S::revoked}},
                 1},
        LimitRow{
            "PreviousWindowWeighedByAge",
            10,
            {{0, A}, {1, A, S::valid, 10}, {900, A}, {900, A, S::valid, 5}, {901, A, S::revoked}},
            1},
        // Back at t0 the previous window (6 uses) weighs once, not twice.
        LimitRow{"ClockBackCountsAsNoTime",
                 12,
                 {{0, A}, {1, A, S::valid, 5}, {600, A}, {0, A, S::valid, 6}, {0, A, S::revoked}},
                 1}),
    [](const auto& info) { return info.param.name; });

TEST(ReceiptBook, AddressLimitMustLeaveAFreeSlot) {
    EXPECT_EQ(ReceiptBook::create(600, 0).error(), Error::InvalidArgument);
    EXPECT_EQ(ReceiptBook::create(600, 8).error(), Error::InvalidArgument);
    EXPECT_TRUE(ReceiptBook::create(600, 7).has_value());
}

TEST(ReceiptBook, SecondTokenWithSameJtiIsBadAndLeavesTheFirst) {
    ReceiptBook book = makeBook();
    EXPECT_EQ(firstUse(book, 1, A, t0), S::valid);
    BookAnswer other = book.lookup(jtiOf(1), fp + 1, farExp, A, t0);
    EXPECT_FALSE(other.needsCheck);
    EXPECT_EQ(other.status, S::bad);
    EXPECT_EQ(book.complete(jtiOf(1), fp + 1, true, A, t0), S::bad);
    EXPECT_EQ(use(book, A, t0 + 1), S::valid);
    EXPECT_EQ(book.entries(), 1u);
}

TEST(ReceiptBook, PendingReceiptAsksAgainAndBothCompletionsCount) {
    ReceiptBook book = makeBook(1);
    EXPECT_TRUE(book.lookup(jtiOf(1), fp, farExp, A, t0).needsCheck);
    EXPECT_TRUE(book.lookup(jtiOf(1), fp, farExp, A, t0).needsCheck);
    EXPECT_EQ(book.complete(jtiOf(1), fp, true, A, t0), S::valid);  // not counted
    EXPECT_EQ(book.complete(jtiOf(1), fp, true, A, t0), S::valid);
    EXPECT_EQ(use(book, A, t0), S::revoked);
}

TEST(ReceiptBook, ForgedSignatureStaysBadWithoutAnotherCheck) {
    ReceiptBook book = makeBook();
    EXPECT_TRUE(book.lookup(jtiOf(1), fp, farExp, A, t0).needsCheck);
    EXPECT_EQ(book.complete(jtiOf(1), fp, false, A, t0), S::bad);
    EXPECT_EQ(use(book, A, t0 + 1), S::bad);
    EXPECT_EQ(book.revokedTotal(), 0u);
}

TEST(ReceiptBook, RevokedStaysRevokedUntilSweptAfterExpiry) {
    ReceiptBook book = makeBook(600, 1);
    EXPECT_TRUE(book.lookup(jtiOf(1), fp, t0 + 100, A, t0).needsCheck);
    EXPECT_EQ(book.complete(jtiOf(1), fp, true, A, t0), S::valid);
    EXPECT_EQ(book.lookup(jtiOf(1), fp, t0 + 100, B, t0).status, S::revoked);
    EXPECT_EQ(book.lookup(jtiOf(1), fp, t0 + 100, A, t0 + 99).status, S::revoked);
    EXPECT_EQ(book.complete(jtiOf(1), fp, true, A, t0 + 99), S::revoked);
    EXPECT_EQ(book.complete(jtiOf(1), fp, false, A, t0 + 99), S::bad);
    EXPECT_EQ(book.lookup(jtiOf(1), fp, t0 + 100, A, t0 + 99).status, S::revoked);
    EXPECT_EQ(book.revokedTotal(), 1u);
    EXPECT_TRUE(book.lookup(jtiOf(2), fp, farExp, A, t0 + 100).needsCheck);  // sweeps
    EXPECT_EQ(book.entries(), 1u);
}

TEST(ReceiptBook, CompletionAfterSweepIsBad) {
    ReceiptBook book = makeBook();
    EXPECT_TRUE(book.lookup(jtiOf(1), fp, t0 + 10, A, t0).needsCheck);
    EXPECT_TRUE(book.lookup(jtiOf(2), fp, farExp, A, t0 + 60).needsCheck);
    EXPECT_EQ(book.entries(), 1u);
    EXPECT_EQ(book.complete(jtiOf(1), fp, true, A, t0 + 60), S::bad);
}

TEST(ReceiptBook, SweepsExpiredEntriesAtMostOnceAMinute) {
    ReceiptBook book = makeBook();
    EXPECT_TRUE(book.lookup(jtiOf(1), fp, t0 + 10, A, t0).needsCheck);
    EXPECT_TRUE(book.lookup(jtiOf(2), fp, t0 + 10, A, t0).needsCheck);
    EXPECT_EQ(book.complete(jtiOf(2), fp, false, A, t0), S::bad);
    EXPECT_TRUE(book.lookup(jtiOf(3), fp, farExp, A, t0 + 59).needsCheck);
    EXPECT_EQ(book.entries(), 3u);
    EXPECT_TRUE(book.lookup(jtiOf(4), fp, farExp, A, t0 + 60).needsCheck);
    EXPECT_EQ(book.entries(), 2u);
}

TEST(ReceiptBook, PeriodicSweepKeepsBadEntries) {
    ReceiptBook book = makeBook();
    EXPECT_TRUE(book.lookup(jtiOf(1), fp, farExp, A, t0).needsCheck);
    EXPECT_EQ(book.complete(jtiOf(1), fp, false, A, t0), S::bad);
    EXPECT_TRUE(book.lookup(jtiOf(2), fp, farExp, A, t0 + 600).needsCheck);
    EXPECT_EQ(book.entries(), 2u);
    EXPECT_EQ(use(book, A, t0 + 601), S::bad);
}

TEST(ReceiptBook, FullBookOverloadsNewReceiptsOnly) {
    ReceiptBook book = makeBook();
    for (std::uint32_t n = 1; n <= ReceiptBook::capacity; ++n) {
        ASSERT_TRUE(book.lookup(jtiOf(n), fp, farExp, A, t0).needsCheck);
    }
    EXPECT_EQ(book.entries(), ReceiptBook::capacity);
    BookAnswer extra = book.lookup(jtiOf(0), fp, farExp, A, t0 + 1);
    EXPECT_FALSE(extra.needsCheck);
    EXPECT_EQ(extra.status, S::overload);
    EXPECT_EQ(book.complete(jtiOf(1), fp, true, A, t0 + 1), S::valid);
    EXPECT_EQ(use(book, A, t0 + 2), S::valid);
    EXPECT_TRUE(book.lookup(jtiOf(2), fp, farExp, A, t0 + 2).needsCheck);

    // A bad entry makes room for the next new receipt.
    EXPECT_EQ(book.complete(jtiOf(3), fp, false, A, t0 + 2), S::bad);
    EXPECT_TRUE(book.lookup(jtiOf(0), fp, farExp, A, t0 + 2).needsCheck);
    EXPECT_EQ(book.lookup(jtiOf(ReceiptBook::capacity + 1), fp, farExp, A, t0 + 2).status,
              S::overload);
    EXPECT_EQ(book.entries(), ReceiptBook::capacity);

    // Once they expire, everything goes.
    EXPECT_TRUE(
        book.lookup(jtiOf(ReceiptBook::capacity + 1), fp, farExp + 10, A, farExp).needsCheck);
    EXPECT_EQ(book.entries(), 1u);
}

// Removing entries from the middle of probe runs must leave every other
// entry findable: a lost entry would be entered again as new.
TEST(ReceiptBook, RemovalKeepsTheRestFindable) {
    ReceiptBook book = makeBook();
    constexpr std::uint32_t count = 60000;
    for (std::uint32_t n = 0; n < count; ++n) {
        const std::int64_t exp = n % 3 == 0 ? t0 + 100 : farExp;
        ASSERT_TRUE(book.lookup(jtiOf(n), fp, exp, A, t0).needsCheck);
    }
    EXPECT_TRUE(book.lookup(jtiOf(count), fp, farExp, A, t0 + 100).needsCheck);
    EXPECT_EQ(book.entries(), count - count / 3 + 1);
    for (std::uint32_t n = 0; n < count; ++n) {
        if (n % 3 == 0) continue;
        ASSERT_TRUE(book.lookup(jtiOf(n), fp, farExp, A, t0 + 100).needsCheck) << n;
    }
    EXPECT_EQ(book.entries(), count - count / 3 + 1);
    for (std::uint32_t n = 0; n < count; n += 3) {
        ASSERT_TRUE(book.lookup(jtiOf(n), fp, farExp, A, t0 + 100).needsCheck);
    }
    EXPECT_EQ(book.entries(), count + 1);
}

TEST(ReceiptBook, AllocatesNothingAfterCreation) {
    ReceiptBook book = makeBook();
    const std::size_t before = test::allocationCount();
    EXPECT_EQ(firstUse(book, 1, A, t0), S::valid);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(use(book, B, t0 + 1), S::valid);
    for (std::uint32_t n = 2; n < 1000; ++n) (void)book.lookup(jtiOf(n), fp, t0 + 5, A, t0);
    (void)book.lookup(jtiOf(1000), fp, farExp, A, t0 + 100);
    EXPECT_EQ(test::allocationCount(), before);
}

}  // namespace
}  // namespace vorn
