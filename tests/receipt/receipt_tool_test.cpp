// Runs the vorn-receipt tool the way an operator does.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/command.hpp"
#include "support/temp_dir.hpp"

namespace vorn {
namespace {

test::CommandResult tool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), VORN_RECEIPT_TOOL);
    auto result = test::runCommand(arguments);
    EXPECT_TRUE(result.has_value());
    return result.value_or(test::CommandResult{});
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

TEST(ReceiptTool, KeygenMintCheck) {
    test::TempDir directory;
    const std::string privateKey = directory.file("k1.key");
    auto keygen = tool({"keygen", "k1", "--out", privateKey});
    ASSERT_EQ(keygen.status, 0);
    EXPECT_EQ(keygen.output.size(), 3 + 43 + 1);
    EXPECT_EQ(keygen.output.substr(0, 3), "k1 ");
    struct stat status {};
    ASSERT_EQ(stat(privateKey.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    const std::string keys = directory.file("keys");
    std::ofstream(keys) << "# test\n" << keygen.output;
    auto mint = tool(
        {"mint", "--key", privateKey, "--kid", "k1", "--aud", "forge.example", "--ttl", "300"});
    ASSERT_EQ(mint.status, 0);
    const std::string token = firstLine(mint.output);

    EXPECT_EQ(tool({"check", "--keys", keys, "--host", "forge.example", token}).output, "valid\n");
    EXPECT_EQ(tool({"check", "--keys=" + keys, "--host=Forge.example", token}).output,
              "wrong_host\n");
    std::string forged = token;
    forged[forged.size() - 4] = forged[forged.size() - 4] == 'A' ? 'B' : 'A';
    auto checkForged = tool({"check", "--keys", keys, "--host", "forge.example", forged});
    EXPECT_EQ(checkForged.status, 0);
    EXPECT_EQ(checkForged.output, "bad\n");
}

TEST(ReceiptTool, KeygenRefusesToOverwrite) {
    test::TempDir directory;
    const std::string privateKey = directory.file("k.key");
    std::ofstream(privateKey) << "precious\n";
    EXPECT_EQ(tool({"keygen", "k", "--out", privateKey}).status, 1);
    std::ifstream kept(privateKey);
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "precious");
}

struct RefusalRow {
    std::string name;
    std::vector<std::string> arguments;
};

void PrintTo(const RefusalRow& row, std::ostream* out) {
    *out << row.name;
}

class ReceiptToolRefuses : public testing::TestWithParam<RefusalRow> {};

TEST_P(ReceiptToolRefuses, WithStatusOne) {
    auto result = tool(GetParam().arguments);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "");
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ReceiptToolRefuses,
    testing::Values(
        RefusalRow{"NoCommand", {}}, RefusalRow{"UnknownCommand", {"sign"}},
        RefusalRow{"UnknownOption", {"keygen", "k", "--force", "x"}},
        RefusalRow{"MissingValue", {"keygen", "k", "--out"}},
        RefusalRow{"KidOutsideAlphabet", {"keygen", "k/1", "--out", "/nonexistent/x"}},
        RefusalRow{"MintWithoutTtl", {"mint", "--key", "x", "--kid", "k", "--aud", "h"}},
        RefusalRow{"MintZeroTtl", {"mint", "--key", "x", "--kid", "k", "--aud", "h", "--ttl", "0"}},
        RefusalRow{"MintTtlNotANumber",
                   {"mint", "--key", "x", "--kid", "k", "--aud", "h", "--ttl", "1m"}},
        RefusalRow{
            "MintUnreadableKey",
            {"mint", "--key", "/nonexistent/k.key", "--kid", "k", "--aud", "h", "--ttl", "60"}},
        RefusalRow{"CheckUnreadableKeys",
                   {"check", "--keys", "/nonexistent/keys", "--host", "h", "t"}},
        RefusalRow{"CheckWithoutToken", {"check", "--keys", "/dev/null", "--host", "h"}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn
