#include "receipt/receipt_key_set.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <variant>

#include "observe/pipe_capture.hpp"
#include "receipt/base64url.hpp"
#include "receipt/load_receipt_keys.hpp"
#include "receipt/token_maker.hpp"
#include "support/temp_dir.hpp"

namespace vorn {
namespace {

// A valid key (seed 1's) and encodings around the field prime p = 2^255 - 19.
const std::string key1 = publicKeyText(test::seedOf(1));
const std::string key2 = publicKeyText(test::seedOf(2));

std::string keyText(std::byte low, std::byte top) {
    PublicKey key{};
    key.fill(std::byte{0xff});
    key[0] = low;
    key[31] = top;
    return base64UrlText(key);
}
const std::string yPMinus1 = keyText(std::byte{0xec}, std::byte{0x7f});
const std::string yPMinus1Signed = keyText(std::byte{0xec}, std::byte{0xff});
const std::string yP = keyText(std::byte{0xed}, std::byte{0x7f});
const std::string yPSigned = keyText(std::byte{0xed}, std::byte{0xff});
const std::string yAllOnes = keyText(std::byte{0xff}, std::byte{0x7f});

struct KeyFileRow {
    std::string name;
    std::string text;
    std::variant<std::uint32_t, Error> expected;  // key count, or the error
};

void PrintTo(const KeyFileRow& row, std::ostream* out) {
    *out << row.name;
}

class KeyFile : public testing::TestWithParam<KeyFileRow> {};

TEST_P(KeyFile, AcceptsWholeFilesOrNamesTheError) {
    auto keys = parseReceiptKeys(GetParam().text);
    if (std::holds_alternative<Error>(GetParam().expected)) {
        ASSERT_FALSE(keys.has_value());
        EXPECT_EQ(errorName(keys.error()), errorName(std::get<Error>(GetParam().expected)));
    } else {
        ASSERT_TRUE(keys.has_value()) << errorName(keys.error());
        EXPECT_EQ(keys->size(), std::get<std::uint32_t>(GetParam().expected));
    }
}

const std::string kid128(128, 'k');

INSTANTIATE_TEST_SUITE_P(
    Files, KeyFile,
    testing::Values(
        KeyFileRow{"Empty", "", 0u},
        KeyFileRow{"OnlyBlankAndComments", "\n  \r\n# c\n\t#x y z\n", 0u},
        KeyFileRow{"OneSpace", "2024-05 " + key1 + "\n", 1u},
        KeyFileRow{"NoFinalNewline", "2024-05 " + key1, 1u},
        KeyFileRow{"SpacesAndTwoTabs", "  2024-06:b\t\t" + key1 + "  \n", 1u},
        KeyFileRow{"Crlf", "a " + key1 + "\r\nb " + key2 + "\r\n", 2u},
        KeyFileRow{"CommentThenKeys", "# keys\na " + key1 + "\n\nb\t" + key2 + "\n", 2u},
        KeyFileRow{"KidAlphabet", "AZaz09-.:_ " + key1, 1u},
        KeyFileRow{"Kid128", kid128 + " " + key1, 1u},
        KeyFileRow{"YJustBelowPrime", "a " + yPMinus1, 1u},
        KeyFileRow{"SignBitIgnored", "a " + yPMinus1Signed, 1u},
        KeyFileRow{"ThreeFields", "a " + key1 + " b", Error::BadKeyLine},
        KeyFileRow{"TrailingComment", "a " + key1 + " # key", Error::BadKeyLine},
        KeyFileRow{"TrailingCommentNoSpace", "a " + key1 + "#", Error::BadKeyLine},
        KeyFileRow{"KidAlone", "a\n", Error::BadKeyLine},
        KeyFileRow{"PaddedKey", "a " + key1 + "=", Error::BadKeyLine},
        KeyFileRow{"ShortKey", "a " + key1.substr(0, 42), Error::BadKeyLine},
        KeyFileRow{"LongKey", "a " + key1 + "A", Error::BadKeyLine},
        KeyFileRow{"KeyOutsideAlphabet", "a +" + key1.substr(1), Error::BadKeyLine},
        KeyFileRow{"KeyLeftoverBits", "a " + key1.substr(0, 42) + "B", Error::BadKeyLine},
        KeyFileRow{"YEqualsPrime", "a " + yP, Error::BadKeyLine},
        KeyFileRow{"YEqualsPrimeSigned", "a " + yPSigned, Error::BadKeyLine},
        KeyFileRow{"YAllOnes", "a " + yAllOnes, Error::BadKeyLine},
        KeyFileRow{"Kid129", kid128 + "k " + key1, Error::BadKeyLine},
        KeyFileRow{"KidSlash", "a/b " + key1, Error::BadKeyLine},
        KeyFileRow{"KidPlus", "a+b " + key1, Error::BadKeyLine},
        KeyFileRow{"BadLineAfterGood", "a " + key1 + "\nb\n", Error::BadKeyLine},
        KeyFileRow{"SameKidSameKey", "a " + key1 + "\na " + key1, Error::DuplicateKeyId},
        KeyFileRow{"SameKidOtherKey", "a " + key1 + "\nb " + key2 + "\na " + key2,
                   Error::DuplicateKeyId},
        KeyFileRow{"KidsDifferInCase", "a " + key1 + "\nA " + key1, 2u}),
    [](const auto& info) { return info.param.name; });

TEST(KeyFile, KeysAreFoundByExactKid) {
    auto keys = parseReceiptKeys("a " + key1 + "\nb " + key2);
    ASSERT_TRUE(keys.has_value());
    ASSERT_NE(keys->lookup("a"), nullptr);
    EXPECT_EQ(base64UrlText(*keys->lookup("a")), key1);
    EXPECT_EQ(base64UrlText(*keys->lookup("b")), key2);
    EXPECT_EQ(keys->lookup("A"), nullptr);
    EXPECT_EQ(keys->lookup(""), nullptr);
}

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
