#include "receipt_minter.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/command.hpp"
#include "support/temp_dir.hpp"
#include "support/test_name.hpp"
#include "token/receipt_checker.hpp"
#include "token/signature.hpp"

namespace vorn::gate {
namespace {

constexpr std::int64_t now = 1'800'000'000;

PrivateKey testKey(std::string kid) {
    PrivateKey key{.kid = std::move(kid)};
    for (std::size_t i = 0; i < key.seed.size(); ++i) key.seed[i] = static_cast<std::byte>(i);
    return key;
}

struct MintRow {
    std::string name;
    std::string host;
    std::string kid = "k1";
    std::optional<Fault> fault{};
};

void PrintTo(const MintRow& row, std::ostream* out) {
    *out << row.name;
}

class Minting : public testing::TestWithParam<MintRow> {};

// What the agent makes of the receipt, short of its signature and book.
TEST_P(Minting, GivesReceiptsTheAgentAccepts) {
    ASSERT_TRUE(prepareSignatures());
    const MintRow& row = GetParam();
    const ReceiptMinter minter(testKey(row.kid), 3600);
    auto token = minter.mint(row.host, 0x1p-13, now);
    if (row.fault) {
        ASSERT_FALSE(token.has_value());
        EXPECT_EQ(faultName(token.error()), faultName(*row.fault));
        return;
    }
    ASSERT_TRUE(token.has_value()) << faultName(token.error());
    auto keys = parseReceiptKeys(row.kid + " " + publicKeyText(testKey(row.kid).seed));
    ASSERT_TRUE(keys);
    auto checker = ReceiptChecker::create();
    ASSERT_TRUE(checker);
    auto receipt = checker->check(*token, row.host, *keys, now);
    ASSERT_TRUE(receipt.has_value());
    EXPECT_EQ(receipt->exp, now + 3600);
    EXPECT_EQ(receipt->diff, 0x1p-13);
    EXPECT_EQ(receipt->keyId(), row.kid);
    EXPECT_TRUE(
        verifyReceiptSignature(receipt->signedText(), receipt->signature, receipt->publicKey));
    EXPECT_NE(minter.mint(row.host, 0x1p-13, now), token) << "each receipt has its own jti";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Minting,
    testing::Values(MintRow{"host name", "forge.example"}, MintRow{"with port", "127.0.0.1:8080"},
                    MintRow{"ipv6 with port", "[::1]:8080"},
                    MintRow{"longest kid", "forge.example", std::string(100, 'k')},
                    MintRow{"long host", std::string(120, 'h')},
                    MintRow{"host too long for the token", std::string(200, 'h'), "k1",
                            Fault::TokenTooLong},
                    MintRow{"kid too long for the token", "forge.example", std::string(128, 'k'),
                            Fault::TokenTooLong},
                    MintRow{"empty host", "", "k1", Fault::BadHost},
                    MintRow{"quote in host", "a\"b", "k1", Fault::BadHost},
                    MintRow{"space in host", "a b", "k1", Fault::BadHost},
                    MintRow{"slash in host", "a/b", "k1", Fault::BadHost},
                    MintRow{"non ascii host", "caf\xc3\xa9.example", "k1", Fault::BadHost},
                    MintRow{"host past 255 bytes", std::string(256, 'h'), "k1", Fault::BadHost}),
    [](const testing::TestParamInfo<MintRow>& info) { return test::testName(info.param.name); });

TEST(ReceiptMinterCookie, IsSecureHttpOnlyLaxForTheReceiptsLifetime) {
    const ReceiptMinter minter(testKey("k1"), 600);
    EXPECT_EQ(minter.cookie("t.o.k"),
              "bramble_pass=t.o.k; Max-Age=600; Path=/; Secure; HttpOnly; SameSite=Lax");
}

// The operator's own check agrees, with a key file made by vorn-receipt.
TEST(ReceiptMinterTool, ReceiptsPassTheToolsCheck) {
    ASSERT_TRUE(prepareSignatures());
    test::TempDir directory;
    auto keygen =
        test::runCommand({VORN_RECEIPT_TOOL, "keygen", "gate-1", "--out", directory.file("k")});
    ASSERT_TRUE(keygen && keygen->status == 0);
    std::ofstream(directory.file("keys")) << keygen->output;
    auto key = readPrivateKeyFile(directory.file("k"));
    ASSERT_TRUE(key);
    const ReceiptMinter minter(std::move(*key), 600);
    auto token = minter.mint("forge.example:8443", 0x1p-11, std::time(nullptr));
    ASSERT_TRUE(token);
    auto check = test::runCommand({VORN_RECEIPT_TOOL, "check", "--keys", directory.file("keys"),
                                   "--host", "forge.example:8443", *token});
    ASSERT_TRUE(check);
    EXPECT_EQ(check->output, "valid\n");
}

}  // namespace
}  // namespace vorn::gate
