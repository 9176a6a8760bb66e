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

constexpr std::uint64_t keyA = 0x1a, keyB = 0x1b;

// Receipt n (its jti holds n), as the checker hands it to the book.
Receipt receiptOf(std::uint32_t n, std::int64_t exp = farExp, std::uint64_t key = keyA,
                  std::uint64_t fingerprint = fp) {
    Receipt receipt;
    for (std::size_t i = 0; i < 4; ++i) receipt.jti[i] = std::byte(n >> (8 * i));
    receipt.exp = exp;
    receipt.keyDigest = key;
    receipt.fingerprint = fingerprint;
    return receipt;
}

ReceiptBook makeBook(std::uint32_t maxRequests = 600, std::uint8_t maxIps = 4) {
    auto book = ReceiptBook::create(maxRequests, maxIps);
    EXPECT_TRUE(book.has_value());
    return std::move(*book);
}

// The first request of a receipt: the book asks for a check, the check
// succeeds.
ReceiptStatus firstUse(ReceiptBook& book, std::uint32_t n, std::uint64_t ip, std::int64_t now) {
    BookAnswer answer = book.lookup(receiptOf(n), ip, now);
    EXPECT_TRUE(answer.needsCheck);
    return book.complete(receiptOf(n), true, ip, now);
}

ReceiptStatus use(ReceiptBook& book, std::uint64_t ip, std::int64_t now, std::uint32_t n = 1) {
    BookAnswer answer = book.lookup(receiptOf(n), ip, now);
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
    const Receipt other = receiptOf(1, farExp, keyA, fp + 1);
    BookAnswer answer = book.lookup(other, A, t0);
    EXPECT_FALSE(answer.needsCheck);
    EXPECT_EQ(answer.status, S::bad);
    EXPECT_EQ(book.complete(other, true, A, t0), S::bad);
    EXPECT_EQ(use(book, A, t0 + 1), S::valid);
    EXPECT_EQ(book.entries(), 1u);
}

TEST(ReceiptBook, NothingEntersBeforeItsCheckAndEveryCheckCounts) {
    ReceiptBook book = makeBook(1);
    EXPECT_TRUE(book.lookup(receiptOf(1), A, t0).needsCheck);
    EXPECT_TRUE(book.lookup(receiptOf(1), A, t0).needsCheck);
    EXPECT_EQ(book.entries(), 0u);
    EXPECT_EQ(book.complete(receiptOf(1), true, A, t0), S::valid);  // not counted
    EXPECT_EQ(book.complete(receiptOf(1), true, A, t0), S::valid);
    EXPECT_EQ(use(book, A, t0), S::revoked);
    EXPECT_EQ(book.entries(), 1u);
}

TEST(ReceiptBook, ForgedSignatureStaysBadWithoutAnotherCheck) {
    ReceiptBook book = makeBook();
    EXPECT_TRUE(book.lookup(receiptOf(1), A, t0).needsCheck);
    EXPECT_EQ(book.complete(receiptOf(1), false, A, t0), S::bad);
    EXPECT_EQ(use(book, A, t0 + 1), S::bad);
    EXPECT_EQ(book.revokedTotal(), 0u);
}

// A check tells only of the key it was made with: under another key the
// receipt is checked again, and the new answer counts, except that a
// revocation holds under any key.
TEST(ReceiptBook, AnotherKeyMeansAnotherCheck) {
    ReceiptBook book = makeBook(600, 1);
    EXPECT_EQ(firstUse(book, 1, A, t0), S::valid);
    EXPECT_TRUE(book.lookup(receiptOf(1, farExp, keyB), A, t0 + 1).needsCheck);
    EXPECT_EQ(book.complete(receiptOf(1, farExp, keyB), false, A, t0 + 1), S::bad);
    EXPECT_EQ(book.lookup(receiptOf(1, farExp, keyB), A, t0 + 2).status, S::bad);
    EXPECT_TRUE(book.lookup(receiptOf(1, farExp, keyA), A, t0 + 2).needsCheck);
    EXPECT_EQ(book.complete(receiptOf(1, farExp, keyA), true, A, t0 + 2), S::valid);
    EXPECT_EQ(use(book, A, t0 + 3), S::valid);

    EXPECT_EQ(use(book, B, t0 + 4), S::revoked);
    EXPECT_EQ(book.lookup(receiptOf(1, farExp, keyB), A, t0 + 5).status, S::revoked);
    EXPECT_EQ(book.complete(receiptOf(1, farExp, keyB), true, A, t0 + 5), S::revoked);
    EXPECT_EQ(book.complete(receiptOf(1, farExp, keyB), false, A, t0 + 5), S::bad);
    EXPECT_EQ(use(book, A, t0 + 6), S::revoked);
    EXPECT_EQ(book.revokedTotal(), 1u);
}

// A book of capacity receipts, checked in order of their numbers: the
// lowest are the least recently used.
ReceiptBook fullBook() {
    ReceiptBook book = makeBook(600, 1);
    for (std::uint32_t n = 1; n <= ReceiptBook::capacity; ++n) {
        EXPECT_EQ(book.complete(receiptOf(n), true, A, t0), S::valid);
    }
    EXPECT_EQ(book.entries(), ReceiptBook::capacity);
    return book;
}

constexpr std::uint32_t fresh = ReceiptBook::capacity + 1;

TEST(ReceiptBook, AFullBookDropsBadEntriesFirst) {
    ReceiptBook book = fullBook();
    EXPECT_EQ(book.complete(receiptOf(fresh), false, A, t0 + 1), S::bad);
    EXPECT_EQ(book.entries(), ReceiptBook::capacity);
    EXPECT_TRUE(book.lookup(receiptOf(1), A, t0 + 1).needsCheck) << "least recently used went";
    EXPECT_EQ(book.complete(receiptOf(fresh + 1), true, A, t0 + 1), S::valid);
    EXPECT_EQ(book.lookup(receiptOf(fresh), A, t0 + 1).needsCheck, true) << "the bad one went";
    EXPECT_EQ(use(book, A, t0 + 2, 2), S::valid);
}

TEST(ReceiptBook, AFullBookDropsTheLeastRecentlyUsedAndKeepsRevocations) {
    ReceiptBook book = fullBook();
    EXPECT_EQ(use(book, B, t0 + 1, 1), S::revoked);
    EXPECT_EQ(use(book, A, t0 + 1, 2), S::valid);
    for (std::uint32_t n = fresh; n < fresh + 3; ++n) {
        EXPECT_EQ(book.complete(receiptOf(n), true, A, t0 + 2), S::valid);
        EXPECT_EQ(use(book, A, t0 + 2, n), S::valid);
    }
    EXPECT_EQ(book.entries(), ReceiptBook::capacity);
    EXPECT_EQ(use(book, A, t0 + 3, 1), S::revoked);
    EXPECT_EQ(use(book, A, t0 + 3, 2), S::valid) << "used again, so kept";
    for (std::uint32_t n : {3u, 4u, 5u})
        EXPECT_TRUE(book.lookup(receiptOf(n), A, t0 + 3).needsCheck);
    EXPECT_EQ(use(book, A, t0 + 3, 6), S::valid);
}

TEST(ReceiptBook, ABookOfRevocationsGivesWayOldestFirst) {
    ReceiptBook book = makeBook(600, 1);
    for (std::uint32_t n = 1; n <= ReceiptBook::capacity; ++n) {
        ASSERT_EQ(book.complete(receiptOf(n), true, A, t0), S::valid);
        ASSERT_EQ(use(book, B, t0, n), S::revoked);
    }
    EXPECT_EQ(book.complete(receiptOf(fresh), true, A, t0 + 1), S::valid);
    EXPECT_TRUE(book.lookup(receiptOf(1), A, t0 + 1).needsCheck);
    EXPECT_EQ(use(book, A, t0 + 1, 2), S::revoked);
}

// Expired entries go a bounded stretch at a time: one call looks at no more
// than a few hundred, and a minute of calls covers the whole book.
TEST(ReceiptBook, ExpiredEntriesAreWalkedAway) {
    ReceiptBook book = makeBook();
    for (std::uint32_t n = 1; n <= 60000; ++n) {
        ASSERT_EQ(book.complete(receiptOf(n, n % 2 == 0 ? t0 + 10 : farExp), true, A, t0),
                  S::valid);
    }
    (void)book.lookup(receiptOf(0), A, t0 + 10);
    EXPECT_GT(book.entries(), 60000u - 600u);
    for (int call = 0; call < 200; ++call) (void)book.lookup(receiptOf(0), A, t0 + 70);
    EXPECT_EQ(book.entries(), 30000u);
    EXPECT_EQ(use(book, A, t0 + 70, 1), S::valid);
    EXPECT_TRUE(book.lookup(receiptOf(2), A, t0 + 70).needsCheck);
}

// Removing entries from the middle of probe runs must leave every other
// entry findable: a lost entry would be checked again and lose its counts.
TEST(ReceiptBook, RemovalKeepsTheRestFindable) {
    ReceiptBook book = makeBook();
    constexpr std::uint32_t count = 60000;
    for (std::uint32_t n = 0; n < count; ++n) {
        const std::int64_t exp = n % 3 == 0 ? t0 + 100 : farExp;
        ASSERT_EQ(book.complete(receiptOf(n, exp), false, A, t0), S::bad);
    }
    for (int call = 0; call < 200; ++call) (void)book.lookup(receiptOf(count), A, t0 + 100);
    EXPECT_EQ(book.entries(), count - count / 3);
    for (std::uint32_t n = 0; n < count; ++n) {
        const BookAnswer answer = book.lookup(receiptOf(n), A, t0 + 100);
        ASSERT_EQ(answer.needsCheck, n % 3 == 0) << n;
    }
}

TEST(ReceiptBook, AllocatesNothingAfterCreation) {
    ReceiptBook book = makeBook();
    const std::size_t before = test::allocationCount();
    EXPECT_EQ(firstUse(book, 1, A, t0), S::valid);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(use(book, B, t0 + 1), S::valid);
    for (std::uint32_t n = 2; n < 1000; ++n)
        (void)book.complete(receiptOf(n, t0 + 5), false, A, t0);
    (void)book.lookup(receiptOf(1000), A, t0 + 100);
    EXPECT_EQ(test::allocationCount(), before);
}

}  // namespace
}  // namespace vorn
