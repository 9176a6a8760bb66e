#include "token/receipt_checker.hpp"

#include <gtest/gtest.h>

#include <string>

#include "common/wyhash.hpp"
#include "support/allocation_count.hpp"
#include "token/signature.hpp"
#include "token/token_maker.hpp"

namespace vorn {
namespace {

constexpr std::int64_t now = 1'800'000'000;
constexpr std::string_view host = "forge.example";
const std::string kid128(128, 'K');
const ReceiptStatus ready = ReceiptStatus::valid;  // passed: next is the receipt book
const ReceiptStatus bad = ReceiptStatus::bad;

// Payload text with the good members written short: $A "aud", $D "diff",
// $E "exp" (a minute from now), $J "jti".
std::string expand(std::string text) {
    const std::pair<std::string_view, std::string> members[] = {
        {"$A", R"("aud":"forge.example")"},
        {"$D", R"("diff":0.5)"},
        {"$E", R"("exp":)" + std::to_string(now + 60)},
        {"$J", R"("jti":")" + std::string(test::defaultJti) + "\""}};
    for (const auto& [mark, member] : members) {
        for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark)) {
            text.replace(at, mark.size(), member);
        }
    }
    return text;
}

// An ignored member of `n` bytes of text, to reach a given token length.
std::string pad(std::size_t n) {
    return R"("pad":")" + std::string(n, 'p') + "\",";
}

std::string firstSegment(const std::string& token) {
    return token.substr(0, token.find('.'));
}
std::string signingInput(const std::string& token) {
    return token.substr(0, token.rfind('.'));
}
std::string signatureSegment(const std::string& token) {
    return token.substr(token.rfind('.') + 1);
}

// Ways to reshape a minted token.
std::string asMinted(const std::string& t) {
    return t;
}
std::string nothing(const std::string&) {
    return "";
}
std::string fourSegments(const std::string& t) {
    return signingInput(t) + ".e30." + signatureSegment(t);
}
std::string paddedSignature(const std::string& t) {
    return t + "==";
}
std::string shortSignature(const std::string& t) {
    return t.substr(0, t.size() - 1);
}
std::string longSignature(const std::string& t) {
    return t + "A";
}
std::string plusInSignature(const std::string& t) {
    return shortSignature(t) + "+";
}
std::string twoByteSignature(const std::string& t) {
    return signingInput(t) + ".AA";
}
std::string paddedHeader(const std::string& t) {
    return firstSegment(t) + "=" + t.substr(t.find('.'));
}
std::string leftoverBit(const std::string& t) {
    const std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    return shortSignature(t) + alphabet[alphabet.find(t.back()) | 1];
}
std::string forged(const std::string& t) {
    std::string changed = t;
    changed[t.size() - 10] = t[t.size() - 10] == 'A' ? 'B' : 'A';
    return changed;
}

struct CheckRow {
    std::string name;
    std::string header = R"({"alg":"EdDSA","kid":"k1"})";
    std::string payload = "{$A,$D,$E,$J}";
    std::string (*shape)(const std::string&) = asMinted;
    ReceiptStatus expected = ready;
    std::string_view host = vorn::host;
    std::size_t length = 0;  // when set, the length the row's token must have
};

void PrintTo(const CheckRow& row, std::ostream* out) {
    *out << row.name;
}

class CheckToken : public testing::TestWithParam<CheckRow> {};

TEST_P(CheckToken, GivesTheFirstFailingStepsStatus) {
    const CheckRow& row = GetParam();
    const std::string key = publicKeyText(test::seedOf(1));
    ReceiptKeySet keys = *parseReceiptKeys("k1 " + key + "\n" + kid128 + " " + key);
    auto checker = ReceiptChecker::create();
    ASSERT_TRUE(checker.has_value());
    const std::string token = row.shape(test::mint(row.header, expand(row.payload)));
    if (row.length != 0) {
        ASSERT_EQ(token.size(), row.length);
    }
    auto checked = checker->check(token, row.host, keys, now);
    EXPECT_EQ(checked ? ready : checked.error(), row.expected) << token;
}

const std::string header408 = R"({"alg":"EdDSA","kid":"k1","x":""})";
const std::string payload407 = "{" + pad(112) + "$A,$D,$E,$J}";
const std::string payload408 = "{" + pad(106) + "$A,$D,$E,$J}";
const std::string badUtf8 = "{\"aud\":\"\xff\",$D,$E,$J}";

INSTANTIATE_TEST_SUITE_P(
    Tokens, CheckToken,
    testing::Values(
        CheckRow{.name = "Good"},
        CheckRow{.name = "Length407SigningInput320", .payload = payload407, .length = 407},
        CheckRow{.name = "Length408",
                 .header = header408,
                 .payload = payload408,
                 .expected = bad,
                 .length = 408},
        CheckRow{.name = "SigningInput321",
                 .header = header408,
                 .payload = payload408,
                 .shape = twoByteSignature,
                 .expected = bad,
                 .length = 321 + 3},
        CheckRow{.name = "Empty", .shape = nothing, .expected = bad},
        CheckRow{.name = "NoDot", .shape = firstSegment, .expected = bad},
        CheckRow{.name = "OneDot", .shape = signingInput, .expected = bad},
        CheckRow{.name = "FourSegments", .shape = fourSegments, .expected = bad},
        CheckRow{.name = "SignaturePadded", .shape = paddedSignature, .expected = bad},
        CheckRow{.name = "SignatureLeftoverBits", .shape = leftoverBit, .expected = bad},
        CheckRow{.name = "SignatureShort", .shape = shortSignature, .expected = bad},
        CheckRow{.name = "SignatureLong", .shape = longSignature, .expected = bad},
        CheckRow{.name = "SignaturePlus", .shape = plusInSignature, .expected = bad},
        CheckRow{.name = "ForgedSignatureNotJudgedHere", .shape = forged},
        CheckRow{.name = "HeaderPadded", .shape = paddedHeader, .expected = bad},
        CheckRow{.name = "HeaderNotJson", .header = "alg=EdDSA", .expected = bad},
        CheckRow{.name = "HeaderArray", .header = R"(["EdDSA","k1"])", .expected = bad},
        CheckRow{.name = "HeaderTrailingText",
                 .header = R"({"alg":"EdDSA","kid":"k1"}x)",
                 .expected = bad},
        CheckRow{.name = "HeaderTwoObjects",
                 .header = R"({"alg":"EdDSA","kid":"k1"}{})",
                 .expected = bad},
        CheckRow{.name = "HeaderExtraMember",
                 .header = R"({"typ":"JWT","alg":"EdDSA","kid":"k1"})"},
        CheckRow{.name = "HeaderNestedExtraMember",
                 .header = R"({"alg":"EdDSA","x":{"y":[1,{}]},"kid":"k1"})"},
        CheckRow{.name = "HeaderEscapedAlg", .header = R"({"alg":"Ed\u0044SA","kid":"k1"})"},
        CheckRow{.name = "HeaderAlgTwice",
                 .header = R"({"alg":"EdDSA","alg":"EdDSA","kid":"k1"})",
                 .expected = bad},
        CheckRow{.name = "HeaderAlgTwiceEscaped",
                 .header = R"({"alg":"EdDSA","\u0061lg":"none","kid":"k1"})",
                 .expected = bad},
        CheckRow{.name = "HeaderKidTwice",
                 .header = R"({"alg":"EdDSA","kid":"k1","kid":"k1"})",
                 .expected = bad},
        CheckRow{.name = "HeaderAlgLowerCase",
                 .header = R"({"alg":"eddsa","kid":"k1"})",
                 .expected = bad},
        CheckRow{.name = "HeaderAlgMissing", .header = R"({"kid":"k1"})", .expected = bad},
        CheckRow{.name = "HeaderKidMissing", .header = R"({"alg":"EdDSA"})", .expected = bad},
        CheckRow{
            .name = "HeaderKidNumber", .header = R"({"alg":"EdDSA","kid":1})", .expected = bad},
        CheckRow{.name = "HeaderAlgNull", .header = R"({"alg":null,"kid":"k1"})", .expected = bad},
        CheckRow{.name = "Kid128",
                 .header = test::headerJson(kid128),
                 .payload = R"({"aud":"h",$D,$E,$J})",
                 .host = "h"},
        CheckRow{.name = "Kid129",
                 .header = test::headerJson(kid128 + "K"),
                 .payload = R"({"aud":"h",$D,$E,$J})",
                 .expected = bad,
                 .host = "h"},
        CheckRow{.name = "KidEmpty", .header = test::headerJson(""), .expected = bad},
        CheckRow{.name = "KidSlash", .header = test::headerJson("k/1"), .expected = bad},
        CheckRow{.name = "KidUnknown", .header = test::headerJson("k2"), .expected = bad},
        CheckRow{.name = "KidUnknownExpired",
                 .header = test::headerJson("k2"),
                 .payload = R"({$A,$D,"exp":1800000000,$J})",
                 .expected = ReceiptStatus::expired},
        CheckRow{.name = "KidUnknownWrongHost",
                 .header = test::headerJson("k2"),
                 .payload = R"({"aud":"other",$D,$E,$J})",
                 .expected = ReceiptStatus::wrong_host},
        CheckRow{.name = "ExpIsNow",
                 .payload = R"({$A,$D,"exp":1800000000,$J})",
                 .expected = ReceiptStatus::expired},
        CheckRow{.name = "ExpNextSecond", .payload = R"({$A,$D,"exp":1800000001,$J})"},
        CheckRow{.name = "ExpiredForged",
                 .payload = R"({$A,$D,"exp":1799999995,$J})",
                 .shape = forged,
                 .expected = ReceiptStatus::expired},
        CheckRow{.name = "ExpiredWrongHost",
                 .payload = R"({"aud":"other",$D,"exp":1,$J})",
                 .expected = ReceiptStatus::expired},
        CheckRow{.name = "AudOtherCase",
                 .payload = R"({"aud":"Forge.example",$D,$E,$J})",
                 .expected = ReceiptStatus::wrong_host},
        CheckRow{.name = "AudWithoutPort",
                 .expected = ReceiptStatus::wrong_host,
                 .host = "forge.example:8443"},
        CheckRow{.name = "AudWithPort",
                 .payload = R"({"aud":"forge.example:8443",$D,$E,$J})",
                 .host = "forge.example:8443"},
        CheckRow{.name = "AudEmptyHostEmpty", .payload = R"({"aud":"",$D,$E,$J})", .host = ""},
        CheckRow{.name = "AudEmptyHostSet",
                 .payload = R"({"aud":"",$D,$E,$J})",
                 .expected = ReceiptStatus::wrong_host},
        CheckRow{.name = "AudNumber", .payload = R"({"aud":1,$D,$E,$J})", .expected = bad},
        CheckRow{.name = "AudBadUtf8", .payload = badUtf8, .expected = bad},
        CheckRow{.name = "AudMissing", .payload = "{$D,$E,$J}", .expected = bad},
        CheckRow{.name = "DiffInteger", .payload = R"({$A,"diff":3,$E,$J})"},
        CheckRow{.name = "DiffString", .payload = R"({$A,"diff":"1",$E,$J})", .expected = bad},
        CheckRow{.name = "DiffMissing", .payload = "{$A,$E,$J}", .expected = bad},
        CheckRow{
            .name = "ExpFraction", .payload = R"({$A,$D,"exp":1800000060.5,$J})", .expected = bad},
        CheckRow{
            .name = "ExpString", .payload = R"({$A,$D,"exp":"1800000060",$J})", .expected = bad},
        CheckRow{.name = "ExpInt64Max", .payload = R"({$A,$D,"exp":9223372036854775807,$J})"},
        CheckRow{.name = "ExpAboveInt64",
                 .payload = R"({$A,$D,"exp":9223372036854775808,$J})",
                 .expected = bad},
        CheckRow{.name = "ExpTwice", .payload = "{$A,$D,$E,$E,$J}", .expected = bad},
        CheckRow{.name = "ExpMissing", .payload = "{$A,$D,$J}", .expected = bad},
        CheckRow{.name = "JtiUpperCase",
                 .payload = R"({$A,$D,$E,"jti":"0123456789ABCDEF0123456789ABCDEF"})"},
        CheckRow{.name = "Jti31",
                 .payload = R"({$A,$D,$E,"jti":"0123456789abcdef0123456789abcde"})",
                 .expected = bad},
        CheckRow{.name = "Jti33",
                 .payload = R"({$A,$D,$E,"jti":"0123456789abcdef0123456789abcdef0"})",
                 .expected = bad},
        CheckRow{.name = "JtiNotHex",
                 .payload = R"({$A,$D,$E,"jti":"0123456789abcdef0123456789abcdeg"})",
                 .expected = bad},
        CheckRow{.name = "JtiTwice", .payload = "{$A,$D,$E,$J,$J}", .expected = bad},
        CheckRow{.name = "JtiMissing", .payload = "{$A,$D,$E}", .expected = bad}),
    [](const auto& info) { return info.param.name; });

std::string good() {
    return test::mint(test::headerJson(), expand("{$A,$D,$E,$J}"));
}

TEST(CheckToken, ReadyReceiptCarriesWhatTheBookAndTheWorkerNeed) {
    ReceiptKeySet keys = test::keysFor("k1");
    auto checker = ReceiptChecker::create();
    ASSERT_TRUE(checker.has_value());
    const std::string token = good();
    auto receipt = checker->check(token, host, keys, now);
    ASSERT_TRUE(receipt.has_value());
    EXPECT_EQ(receipt->keyId(), "k1");
    EXPECT_EQ(receipt->exp, now + 60);
    EXPECT_EQ(receipt->diff, 0.5);
    EXPECT_EQ(receipt->fingerprint, wyhash(token));
    EXPECT_EQ(receipt->signedText(), signingInput(token));
    EXPECT_EQ(receipt->publicKey, *keys.lookup("k1"));
    EXPECT_EQ(base64UrlText(receipt->signature), signatureSegment(token));
    EXPECT_EQ(receipt->jti[0], std::byte{0x01});
    EXPECT_EQ(receipt->jti[15], std::byte{0xef});
    EXPECT_TRUE(
        verifyReceiptSignature(receipt->signedText(), receipt->signature, receipt->publicKey));
}

TEST(CheckToken, AllocatesNothingOnceCreated) {
    ReceiptKeySet keys = test::keysFor("k1");
    auto checker = ReceiptChecker::create();
    ASSERT_TRUE(checker.has_value());
    const std::string token = good();
    const std::string headerAlgTwice =
        test::mint(R"({"alg":"EdDSA","alg":"EdDSA","kid":"k1"})", expand("{$A,$D,$E,$J}"));
    const std::size_t before = test::allocationCount();
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(checker->check(token, host, keys, now).has_value());
        EXPECT_FALSE(checker->check(headerAlgTwice, host, keys, now).has_value());
    }
    EXPECT_EQ(test::allocationCount(), before);
}

}  // namespace
}  // namespace vorn
