#include "gate/receipt_minter.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/test_name.hpp"
#include "token/receipt_checker.hpp"
#include "token/signature.hpp"
#include "token/token_signer.hpp"

namespace vorn {
namespace {

constexpr std::int64_t now = 1'800'000'000;

PrivateKey testKey(std::string kid, int salt = 0) {
    PrivateKey key{.kid = std::move(kid)};
    for (std::size_t i = 0; i < key.seed.size(); ++i) {
        key.seed[i] = static_cast<std::byte>(i + static_cast<std::size_t>(salt));
    }
    return key;
}

// What the agent makes of `token` for `host` with the public key of `key`,
// short of its book: the receipt when it checks out, signature included.
std::optional<Receipt> agentReads(std::string_view token, std::string_view host,
                                  const PrivateKey& key) {
    auto keys = parseReceiptKeys(key.kid + " " + publicKeyText(key.seed));
    auto checker = ReceiptChecker::create();
    if (!keys || !checker) return std::nullopt;
    auto receipt = checker->check(token, host, *keys, now);
    if (!receipt) return std::nullopt;
    if (!verifyReceiptSignature(receipt->signedText(), receipt->signature, receipt->publicKey)) {
        return std::nullopt;
    }
    return *receipt;
}

struct MintRow {
    std::string name;
    std::string host;
    std::string kid = "k1";
    std::optional<GateFault> fault{};
};

void PrintTo(const MintRow& row, std::ostream* out) {
    *out << row.name;
}

class Minting : public testing::TestWithParam<MintRow> {};

TEST_P(Minting, GivesReceiptsTheAgentAccepts) {
    ASSERT_TRUE(prepareSignatures());
    const MintRow& row = GetParam();
    const ReceiptMinter minter(testKey(row.kid), 3600);
    ReceiptText room{};
    auto token = minter.mint(row.host, 0x1p-13, now, room);
    if (row.fault) {
        ASSERT_FALSE(token.has_value());
        EXPECT_EQ(gateFaultName(token.error()), gateFaultName(*row.fault));
        return;
    }
    ASSERT_TRUE(token.has_value()) << gateFaultName(token.error());
    auto receipt = agentReads(*token, row.host, testKey(row.kid));
    ASSERT_TRUE(receipt) << *token;
    EXPECT_EQ(receipt->exp, now + 3600);
    EXPECT_EQ(receipt->diff, 0x1p-13);
    EXPECT_EQ(receipt->keyId(), row.kid);
    const std::string first(*token);
    ReceiptText again{};
    EXPECT_NE(minter.mint(row.host, 0x1p-13, now, again).value_or(""), first)
        << "each receipt has its own jti";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Minting,
    testing::Values(MintRow{"host name", "forge.example"}, MintRow{"with port", "127.0.0.1:8080"},
                    MintRow{"ipv6 with port", "[::1]:8080"},
                    MintRow{"longest kid", "forge.example", std::string(100, 'k')},
                    MintRow{"long host", std::string(120, 'h')},
                    MintRow{"host too long for the token", std::string(200, 'h'), "k1",
                            GateFault::TokenTooLong},
                    MintRow{"kid too long for the token", "forge.example", std::string(128, 'k'),
                            GateFault::TokenTooLong},
                    MintRow{"empty host", "", "k1", GateFault::BadHost},
                    MintRow{"quote in host", "a\"b", "k1", GateFault::BadHost},
                    MintRow{"space in host", "a b", "k1", GateFault::BadHost},
                    MintRow{"slash in host", "a/b", "k1", GateFault::BadHost},
                    MintRow{"non ascii host", "caf\xc3\xa9.example", "k1", GateFault::BadHost},
                    MintRow{"host past 255 bytes", std::string(256, 'h'), "k1",
                            GateFault::BadHost}),
    [](const testing::TestParamInfo<MintRow>& info) { return test::testName(info.param.name); });

TEST(ReceiptMinterKey, AReplacedKeySignsEveryReceiptAfterIt) {
    ASSERT_TRUE(prepareSignatures());
    ReceiptMinter minter(testKey("old"), 600);
    minter.replaceKey(testKey("new", 1));
    ReceiptText room{};
    auto token = minter.mint("forge.example", 0x1p-13, now, room);
    ASSERT_TRUE(token);
    EXPECT_TRUE(agentReads(*token, "forge.example", testKey("new", 1)));
    EXPECT_FALSE(agentReads(*token, "forge.example", testKey("old")));
    FixedText<64> kid;
    minter.writeKeyId(kid);
    EXPECT_EQ(kid.view(), "new");
}

}  // namespace
}  // namespace vorn
