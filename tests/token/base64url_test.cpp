#include "token/base64url.hpp"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

namespace vorn {
namespace {

struct DecodeRow {
    std::string name;
    std::string text;
    std::optional<std::string> bytes;  // nothing: refused
};

void PrintTo(const DecodeRow& row, std::ostream* out) {
    *out << row.name;
}

class Base64UrlDecode : public testing::TestWithParam<DecodeRow> {};

TEST_P(Base64UrlDecode, AcceptsOnlyTheOneSpelling) {
    std::array<std::byte, 64> out{};
    auto decoded = decodeBase64Url(GetParam().text, out);
    ASSERT_EQ(decoded.has_value(), GetParam().bytes.has_value());
    if (!decoded) return;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), *decoded), *GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Base64UrlDecode,
    testing::Values(DecodeRow{"Empty", "", ""}, DecodeRow{"OneByte", "YQ", "a"},
                    DecodeRow{"TwoBytes", "YWI", "ab"}, DecodeRow{"ThreeBytes", "YWJj", "abc"},
                    DecodeRow{"UrlSafeAlphabet", "-_-_", "\xfb\xff\xbf"},
                    DecodeRow{"PlusRefused", "+/+/", std::nullopt},
                    DecodeRow{"PaddingRefused", "YQ==", std::nullopt},
                    DecodeRow{"SinglePadRefused", "YWI=", std::nullopt},
                    DecodeRow{"LengthOneMod4", "YWJjZ", std::nullopt},
                    DecodeRow{"LeftoverBitsAfterOneByte", "YR", std::nullopt},
                    DecodeRow{"LeftoverBitsAfterTwoBytes", "YWJ", std::nullopt},
                    DecodeRow{"SpaceRefused", "YW Jj", std::nullopt},
                    DecodeRow{"NulRefused", std::string("YW\0j", 4), std::nullopt},
                    DecodeRow{"HighByteRefused", "YW\xc3\xa9", std::nullopt}),
    [](const auto& info) { return info.param.name; });

TEST(Base64Url, RefusesAnOutputTooSmall) {
    std::array<std::byte, 2> out{};
    EXPECT_FALSE(decodeBase64Url("YWJj", out));
    std::array<char, 3> text{};
    EXPECT_FALSE(encodeBase64Url(std::as_bytes(std::span("abc", 3)), text));
}

TEST(Base64Url, EncodingRoundTripsEveryLength) {
    std::array<std::byte, 70> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::byte(i * 37 + 11);
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        std::array<char, 96> text{};
        auto encoded = encodeBase64Url(std::span(bytes).first(length), text);
        ASSERT_TRUE(encoded);
        ASSERT_EQ(*encoded, base64UrlEncodedLength(length));
        ASSERT_EQ(base64UrlDecodedLength(*encoded), length);
        std::array<std::byte, 70> back{};
        auto decoded = decodeBase64Url(std::string_view(text.data(), *encoded), back);
        ASSERT_EQ(decoded, length);
        EXPECT_TRUE(std::equal(back.begin(), back.begin() + length, bytes.begin()));
    }
}

}  // namespace
}  // namespace vorn
