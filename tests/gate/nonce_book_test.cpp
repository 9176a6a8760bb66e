#include "nonce_book.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/test_name.hpp"

namespace vorn::gate {
namespace {

constexpr std::int64_t lifetime = 300;
constexpr std::int64_t issuedAt = 1'800'000'000;

struct NonceRow {
    std::string name;
    std::string client;                             // checked for
    std::int64_t checkedAfter;                      // seconds after issue
    std::string (*reshape)(std::string) = nullptr;  // what the client made of the nonce
    std::int64_t bookStartedBefore = 0;             // first use of the book before the issue
    std::optional<Fault> fault{};
};

void PrintTo(const NonceRow& row, std::ostream* out) {
    *out << row.name;
}

class NonceBinding : public testing::TestWithParam<NonceRow> {};

TEST_P(NonceBinding, HoldsForOneClientForItsLifetime) {
    const NonceRow& row = GetParam();
    NonceBook book(lifetime);
    (void)book.issue("198.51.100.1", 0x1p-12, issuedAt - row.bookStartedBefore);
    std::string nonce = book.issue("10.0.0.1", 0x1p-13, issuedAt);
    if (row.reshape) nonce = row.reshape(nonce);
    auto facts = book.check(nonce, row.client, issuedAt + row.checkedAfter);
    if (row.fault) {
        ASSERT_FALSE(facts.has_value());
        EXPECT_EQ(faultName(facts.error()), faultName(*row.fault));
        return;
    }
    ASSERT_TRUE(facts.has_value()) << faultName(facts.error());
    EXPECT_EQ(facts->difficulty, 0x1p-13);
    EXPECT_EQ(facts->issuedAt, issuedAt);
}

std::string flipLast(std::string nonce) {
    nonce.back() = nonce.back() == 'A' ? 'Q' : 'A';
    return nonce;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NonceBinding,
    testing::Values(NonceRow{"at once", "10.0.0.1", 0},
                    NonceRow{"last second", "10.0.0.1", lifetime - 1},
                    NonceRow{"after the secret turned", "10.0.0.1", 60, nullptr, 250},
                    NonceRow{"at its lifetime", "10.0.0.1", lifetime, nullptr, 0,
                             Fault::ExpiredNonce},
                    NonceRow{"an hour later", "10.0.0.1", 3600, nullptr, 0, Fault::BadNonce},
                    NonceRow{"before it was issued", "10.0.0.1", -1, nullptr, 0, Fault::BadNonce},
                    NonceRow{"another client", "10.0.0.2", 0, nullptr, 0, Fault::BadNonce},
                    NonceRow{"a longer address", "10.0.0.10", 0, nullptr, 0, Fault::BadNonce},
                    NonceRow{"no address", "", 0, nullptr, 0, Fault::BadNonce},
                    NonceRow{"one character changed", "10.0.0.1", 0, flipLast, 0, Fault::BadNonce},
                    NonceRow{"one character short", "10.0.0.1", 0,
                             [](std::string n) { return n.substr(1); }, 0, Fault::BadNonce},
                    NonceRow{"padded", "10.0.0.1", 0, [](std::string n) { return n + "=="; }, 0,
                             Fault::BadNonce},
                    NonceRow{"empty", "10.0.0.1", 0, [](std::string) { return std::string(); }, 0,
                             Fault::BadNonce}),
    [](const testing::TestParamInfo<NonceRow>& info) { return test::testName(info.param.name); });

TEST(NonceBook, TwoBooksDoNotShareSecrets) {
    NonceBook first(lifetime);
    NonceBook second(lifetime);
    const std::string nonce = first.issue("10.0.0.1", 0x1p-13, issuedAt);
    EXPECT_EQ(nonce.size(), 86u);
    EXPECT_TRUE(first.check(nonce, "10.0.0.1", issuedAt));
    EXPECT_FALSE(second.check(nonce, "10.0.0.1", issuedAt));
    EXPECT_NE(first.issue("10.0.0.1", 0x1p-13, issuedAt), nonce) << "a random part";
}

}  // namespace
}  // namespace vorn::gate
