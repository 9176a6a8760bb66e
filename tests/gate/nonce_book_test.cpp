#include "gate/nonce_book.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

constexpr std::int64_t lifetime = 300;
// Milliseconds on the steady clock.
constexpr std::int64_t issuedAt = 86'400'000;
constexpr std::int64_t second = 1000;

std::string text(const NonceText& nonce) {
    return {nonce.data(), nonce.size()};
}

struct NonceRow {
    std::string name;
    std::string client;         // checked for
    std::int64_t checkedAfter;  // milliseconds after issue
    std::optional<GateFault> fault{};
    std::string (*reshape)(std::string) = nullptr;  // what the client made of the nonce
    std::int64_t bookStartedBefore = 0;             // first use of the book, ms before the issue
};

void PrintTo(const NonceRow& row, std::ostream* out) {
    *out << row.name;
}

class NonceBinding : public testing::TestWithParam<NonceRow> {};

TEST_P(NonceBinding, HoldsForOneClientForItsLifetime) {
    const NonceRow& row = GetParam();
    NonceBook book(lifetime);
    (void)book.issue("198.51.100.1", 0x1p-12, issuedAt - row.bookStartedBefore);
    std::string nonce = text(book.issue("10.0.0.1", 0x1p-13, issuedAt));
    if (row.reshape) nonce = row.reshape(nonce);
    auto facts = book.check(nonce, row.client, issuedAt + row.checkedAfter);
    if (row.fault) {
        ASSERT_FALSE(facts.has_value());
        EXPECT_EQ(gateFaultName(facts.error()), gateFaultName(*row.fault));
        return;
    }
    ASSERT_TRUE(facts.has_value()) << gateFaultName(facts.error());
    EXPECT_EQ(facts->difficulty, 0x1p-13);
    EXPECT_EQ(facts->issuedAtMillis, issuedAt);
}

std::string flipLast(std::string nonce) {
    nonce.back() = nonce.back() == 'A' ? 'Q' : 'A';
    return nonce;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NonceBinding,
    testing::Values(
        NonceRow{"at once", "10.0.0.1", 0},
        NonceRow{"last millisecond", "10.0.0.1", lifetime* second - 1},
        NonceRow{"after the secret turned", "10.0.0.1", 60 * second, {}, nullptr, 250 * second},
        NonceRow{"at its lifetime", "10.0.0.1", lifetime* second, GateFault::ExpiredNonce},
        NonceRow{"an hour later", "10.0.0.1", 3600 * second, GateFault::BadNonce},
        NonceRow{"before it was issued", "10.0.0.1", -1, GateFault::BadNonce},
        NonceRow{"another client", "10.0.0.2", 0, GateFault::BadNonce},
        NonceRow{"a longer address", "10.0.0.10", 0, GateFault::BadNonce},
        NonceRow{"one character changed", "10.0.0.1", 0, GateFault::BadNonce, flipLast},
        NonceRow{"one character short", "10.0.0.1", 0, GateFault::BadNonce,
                 [](std::string n) { return n.substr(1); }},
        NonceRow{"padded", "10.0.0.1", 0, GateFault::BadNonce,
                 [](std::string n) { return n + "=="; }}),
    [](const testing::TestParamInfo<NonceRow>& info) { return test::testName(info.param.name); });

TEST(NonceBook, TwoBooksDoNotShareSecrets) {
    NonceBook first(lifetime);
    NonceBook second(lifetime);
    const std::string nonce = text(first.issue("10.0.0.1", 0x1p-13, issuedAt));
    EXPECT_EQ(nonce.size(), 86u);
    EXPECT_TRUE(first.check(nonce, "10.0.0.1", issuedAt));
    EXPECT_FALSE(second.check(nonce, "10.0.0.1", issuedAt));
    EXPECT_NE(text(first.issue("10.0.0.1", 0x1p-13, issuedAt)), nonce) << "a random part";
}

}  // namespace
}  // namespace vorn
