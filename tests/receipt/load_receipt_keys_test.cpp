#include "receipt/load_receipt_keys.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "observe/pipe_capture.hpp"
#include "support/temp_dir.hpp"
#include "token/token_maker.hpp"

namespace vorn {
namespace {

// Two valid keys, seeds 1 and 2.
const std::string key1 = publicKeyText(test::seedOf(1));
const std::string key2 = publicKeyText(test::seedOf(2));

// The log line's message after the level, as log() writes it.
std::string messageOf(std::string_view level, std::string_view message) {
    return "level=" + std::string(level) + " msg=\"" + std::string(message) + "\"\n";
}

struct LoadRow {
    std::string name;
    std::string reason;
    ChallengeMode mode;
    std::optional<std::string> file;  // nothing: no such file
    std::uint32_t keysAfter;
    std::vector<std::pair<std::string, std::string>> lines;  // level, message; PATH for the path
};

void PrintTo(const LoadRow& row, std::ostream* out) {
    *out << row.name;
}

class LoadKeys : public testing::TestWithParam<LoadRow> {};

std::string withPath(std::string text, const std::string& path) {
    if (auto at = text.find("PATH"); at != std::string::npos) text.replace(at, 4, path);
    return text;
}

// Starts from a set of two keys, loads the row's file and compares the key
// count and every line logged.
TEST_P(LoadKeys, ReplacesAllOrNothingAndLogs) {
    const LoadRow& row = GetParam();
    test::TempDir directory;
    const std::string path = directory.file("keys");
    if (row.file) std::ofstream(path) << *row.file;
    ReceiptKeySet current = *parseReceiptKeys("old1 " + key1 + "\nold2 " + key2);

    test::StandardErrorCapture standardError;
    loadReceiptKeys(row.reason, path, row.mode, current);
    const std::string logged = standardError.taken();

    EXPECT_EQ(current.size(), row.keysAfter);
    std::string expected;
    for (const auto& [level, message] : row.lines)
        expected += messageOf(level, withPath(message, path));
    std::string withoutTimes;
    for (std::size_t at = 0; at < logged.size();) {
        const std::size_t end = logged.find('\n', at);
        const std::string line = logged.substr(at, end - at + 1);
        withoutTimes += line.substr(std::min(line.find("level="), line.size()));
        at = end == std::string::npos ? logged.size() : end + 1;
    }
    EXPECT_EQ(withoutTimes, expected);
}

const std::string onlyKey1 = "new " + key1 + "\n";
const std::string errorLine = "--challenge=on without receipt keys: challenges are not sent";

INSTANTIATE_TEST_SUITE_P(
    Loads, LoadKeys,
    testing::Values(
        LoadRow{"StartReplaces",
                "start",
                ChallengeMode::on,
                onlyKey1,
                1,
                {{"info", "start: 1 receipt key(s) from PATH"}}},
        LoadRow{"BadLineKeepsOldShadow",
                "SIGHUP",
                ChallengeMode::shadow,
                "x\n",
                2,
                {{"warning", "SIGHUP: receipt keys PATH: BadKeyLine; keeping 2 key(s)"}}},
        LoadRow{"DuplicateKeepsOldOn",
                "SIGHUP",
                ChallengeMode::on,
                onlyKey1 + onlyKey1,
                2,
                {{"warning", "SIGHUP: receipt keys PATH: DuplicateKeyId; keeping 2 key(s)"}}},
        LoadRow{"MissingFileOn",
                "SIGHUP",
                ChallengeMode::on,
                std::nullopt,
                2,
                {{"warning", "SIGHUP: receipt keys PATH: FileNotFound; keeping 2 key(s)"}}},
        LoadRow{"TooBigKeepsOld",
                "SIGHUP",
                ChallengeMode::shadow,
                std::string(65537, '#'),
                2,
                {{"warning", "SIGHUP: receipt keys PATH: FileTooBig; keeping 2 key(s)"}}},
        LoadRow{"LargestFileAccepted",
                "SIGHUP",
                ChallengeMode::shadow,
                std::string(65536, '#'),
                0,
                {{"info", "SIGHUP: 0 receipt key(s) from PATH"}}},
        LoadRow{"FailureSilentWhenOff", "SIGHUP", ChallengeMode::off, "x\n", 2, {}},
        LoadRow{"SuccessLoggedWhenOff",
                "start",
                ChallengeMode::off,
                "",
                0,
                {{"info", "start: 0 receipt key(s) from PATH"}}},
        LoadRow{"EmptyFileOnLogsError",
                "SIGHUP",
                ChallengeMode::on,
                "# none\n",
                0,
                {{"info", "SIGHUP: 0 receipt key(s) from PATH"}, {"error", errorLine}}},
        LoadRow{"EmptyFileShadowNoError",
                "SIGHUP",
                ChallengeMode::shadow,
                "",
                0,
                {{"info", "SIGHUP: 0 receipt key(s) from PATH"}}}),
    [](const auto& info) { return info.param.name; });

TEST(LoadKeys, FailedFirstLoadInModeOnLogsTheErrorLine) {
    test::TempDir directory;
    ReceiptKeySet current;
    test::StandardErrorCapture standardError;
    loadReceiptKeys("start", directory.file("missing"), ChallengeMode::on, current);
    const std::string logged = standardError.taken();
    EXPECT_NE(logged.find("level=warning msg=\"start: receipt keys " + directory.file("missing") +
                          ": FileNotFound; keeping 0 key(s)\""),
              std::string::npos);
    EXPECT_NE(logged.find("level=error msg=\"" + errorLine + "\""), std::string::npos);
}

}  // namespace
}  // namespace vorn
