#include "token/receipt_key_set.hpp"

#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "token/base64url.hpp"
#include "token/token_maker.hpp"

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

}  // namespace
}  // namespace vorn
