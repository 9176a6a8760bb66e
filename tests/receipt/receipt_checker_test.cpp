#include "receipt/receipt_checker.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/wyhash.hpp"
#include "receipt/allocation_count.hpp"
#include "receipt/signature.hpp"
#include "receipt/token_maker.hpp"

namespace vorn {
namespace {

using test::headerJson;
using test::mint;
using test::payloadJson;
using test::segmentOf;

constexpr std::int64_t now = 1'800'000'000;
constexpr std::string_view host = "forge.example";
const std::string kid128(128, 'K');

std::string good() {
    return mint(headerJson(), payloadJson(host, now + 60));
}

std::string withPayload(std::string_view payload) {
    return mint(headerJson(), payload);
}
std::string withHeader(std::string_view header) {
    return mint(header, payloadJson(host, now + 60));
}

std::string signatureSegment(const std::string& token) {
    return token.substr(token.rfind('.') + 1);
}
std::string signingInput(const std::string& token) {
    return token.substr(0, token.rfind('.'));
}

// A good token of exactly `length` bytes, made by padding an ignored
// member in the header and in the payload.
std::string tokenOfLength(std::size_t length) {
    for (std::size_t inHeader = 0; inHeader < 4; ++inHeader) {
        for (std::size_t inPayload = 0; inPayload < 300; ++inPayload) {
            const std::string header =
                R"({"alg":"EdDSA","kid":"k1","x":")" + std::string(inHeader, 'h') + "\"}";
            const std::string payload = R"({"pad":")" + std::string(inPayload, 'p') +
                                        R"(","aud":")" + std::string(host) +
                                        R"(","diff":1,"exp":)" + std::to_string(now + 60) +
                                        R"(,"jti":")" + std::string(test::defaultJti) + "\"}";
            std::string token = mint(header, payload);
            if (token.size() == length) return token;
        }
    }
    ADD_FAILURE() << "no token of " << length << " bytes";
    return {};
}

// The last character of the signature with a leftover bit set.
std::string withLeftoverBit(std::string token) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    token.back() = alphabet[alphabet.find(token.back()) | 1];
    return token;
}

std::string withForgedSignature(std::string token) {
    token[token.size() - 10] = token[token.size() - 10] == 'A' ? 'B' : 'A';
    return token;
}

struct CheckRow {
    std::string name;
    std::function<std::string()> token;
    ReceiptStatus expected;  // valid: passed, ready for the receipt book
    std::string_view host = vorn::host;
};

void PrintTo(const CheckRow& row, std::ostream* out) {
    *out << row.name;
}

class CheckToken : public testing::TestWithParam<CheckRow> {};

TEST_P(CheckToken, GivesTheFirstFailingStepsStatus) {
    ReceiptKeySet keys = *parseReceiptKeys("k1 " + publicKeyText(test::seedOf(1)) + "\n" + kid128 +
                                           " " + publicKeyText(test::seedOf(1)));
    auto checker = ReceiptChecker::create();
    ASSERT_TRUE(checker.has_value());
    const std::string token = GetParam().token();
    auto checked = checker->check(token, GetParam().host, keys, now);
    EXPECT_EQ(checked ? ReceiptStatus::valid : checked.error(), GetParam().expected)
        << token << " (" << token.size() << " bytes)";
}

const ReceiptStatus ready = ReceiptStatus::valid;
const ReceiptStatus bad = ReceiptStatus::bad;

INSTANTIATE_TEST_SUITE_P(
    Tokens, CheckToken,
    testing::Values(
        CheckRow{"Good", good, ready},
        CheckRow{"Length407", [] { return tokenOfLength(407); }, ready},
        CheckRow{"Length408", [] { return tokenOfLength(408); }, bad},
        CheckRow{"SigningInput320", [] { return tokenOfLength(320 + 1 + 86); }, ready},
        CheckRow{"SigningInput321ShortSignature",
                 [] { return signingInput(tokenOfLength(408)) + ".AA"; }, bad},
        CheckRow{"Empty", [] { return std::string(); }, bad},
        CheckRow{"NoDot", [] { return segmentOf(headerJson()); }, bad},
        CheckRow{"OneDot", [] { return signingInput(good()); }, bad},
        CheckRow{"FourSegments",
                 [] {
                     const std::string t = good();
                     return signingInput(t) + ".e30." + signatureSegment(t);
                 },
                 bad},
        CheckRow{"SignaturePadded", [] { return good() + "=="; }, bad},
        CheckRow{"SignatureLeftoverBits", [] { return withLeftoverBit(good()); }, bad},
        CheckRow{"SignatureShort", [] { return good().substr(0, good().size() - 1); }, bad},
        CheckRow{"SignatureLong", [] { return good() + "A"; }, bad},
        CheckRow{"SignaturePlus", [] { return good().substr(0, good().size() - 1) + "+"; }, bad},
        CheckRow{"ForgedSignatureNotJudgedHere", [] { return withForgedSignature(good()); }, ready},
        CheckRow{"HeaderPadded",
                 [] {
                     const std::string t = good();
                     return segmentOf(headerJson()) + "=" + t.substr(t.find('.'));
                 },
                 bad},
        CheckRow{"HeaderNotJson", [] { return withHeader("alg=EdDSA"); }, bad},
        CheckRow{"HeaderArray", [] { return withHeader(R"(["EdDSA","k1"])"); }, bad},
        CheckRow{"HeaderTrailingText", [] { return withHeader(headerJson() + "x"); }, bad},
        CheckRow{"HeaderTwoObjects", [] { return withHeader(headerJson() + "{}"); }, bad},
        CheckRow{"HeaderExtraMember",
                 [] { return withHeader(R"({"typ":"JWT","alg":"EdDSA","kid":"k1"})"); }, ready},
        CheckRow{"HeaderExtraNestedMember",
                 [] { return withHeader(R"({"alg":"EdDSA","x":{"y":[1,{}]},"kid":"k1"})"); },
                 ready},
        CheckRow{"HeaderEscapedAlg",
                 [] { return withHeader(R"({"alg":"Ed\u0044SA","kid":"k1"})"); }, ready},
        CheckRow{"HeaderAlgTwice",
                 [] { return withHeader(R"({"alg":"EdDSA","alg":"EdDSA","kid":"k1"})"); }, bad},
        CheckRow{"HeaderAlgTwiceEscaped",
                 [] { return withHeader(R"({"alg":"EdDSA","\u0061lg":"none","kid":"k1"})"); }, bad},
        CheckRow{"HeaderKidTwice",
                 [] { return withHeader(R"({"alg":"EdDSA","kid":"k1","kid":"k1"})"); }, bad},
        CheckRow{"HeaderAlgLowerCase", [] { return withHeader(R"({"alg":"eddsa","kid":"k1"})"); },
                 bad},
        CheckRow{"HeaderAlgMissing", [] { return withHeader(R"({"kid":"k1"})"); }, bad},
        CheckRow{"HeaderKidMissing", [] { return withHeader(R"({"alg":"EdDSA"})"); }, bad},
        CheckRow{"HeaderKidNumber", [] { return withHeader(R"({"alg":"EdDSA","kid":1})"); }, bad},
        CheckRow{"HeaderAlgNull", [] { return withHeader(R"({"alg":null,"kid":"k1"})"); }, bad},
        CheckRow{"Kid128", [] { return mint(headerJson(kid128), payloadJson("h", now + 60)); },
                 ready, "h"},
        CheckRow{"Kid129",
                 [] { return mint(headerJson(kid128 + "K"), payloadJson(host, now + 60)); }, bad},
        CheckRow{"KidEmpty", [] { return mint(headerJson(""), payloadJson(host, now + 60)); }, bad},
        CheckRow{"KidSlash", [] { return mint(headerJson("k/1"), payloadJson(host, now + 60)); },
                 bad},
        CheckRow{"KidUnknown", [] { return mint(headerJson("k2"), payloadJson(host, now + 60)); },
                 bad},
        CheckRow{"KidUnknownExpired", [] { return mint(headerJson("k2"), payloadJson(host, now)); },
                 ReceiptStatus::expired},
        CheckRow{"KidUnknownWrongHost",
                 [] { return mint(headerJson("k2"), payloadJson("other", now + 9)); },
                 ReceiptStatus::wrong_host},
        CheckRow{"ExpIsNow", [] { return withPayload(payloadJson(host, now)); },
                 ReceiptStatus::expired},
        CheckRow{"ExpNextSecond", [] { return withPayload(payloadJson(host, now + 1)); }, ready},
        CheckRow{"ExpiredForged",
                 [] { return withForgedSignature(withPayload(payloadJson(host, now - 5))); },
                 ReceiptStatus::expired},
        CheckRow{"ExpiredWrongHost", [] { return withPayload(payloadJson("other", now)); },
                 ReceiptStatus::expired},
        CheckRow{"AudOtherCase", [] { return withPayload(payloadJson("Forge.example", now + 9)); },
                 ReceiptStatus::wrong_host},
        CheckRow{"AudWithoutPort", [] { return withPayload(payloadJson(host, now + 9)); },
                 ReceiptStatus::wrong_host, "forge.example:8443"},
        CheckRow{"AudWithPort",
                 [] { return withPayload(payloadJson("forge.example:8443", now + 9)); }, ready,
                 "forge.example:8443"},
        CheckRow{"AudEmptyHostEmpty", [] { return withPayload(payloadJson("", now + 9)); }, ready,
                 ""},
        CheckRow{"AudEmptyHostSet", [] { return withPayload(payloadJson("", now + 9)); },
                 ReceiptStatus::wrong_host},
        CheckRow{"JtiUpperCase",
                 [] {
                     return withPayload(
                         payloadJson(host, now + 9, "0123456789ABCDEF0123456789ABCDEF"));
                 },
                 ready},
        CheckRow{"Jti31",
                 [] { return withPayload(payloadJson(host, now + 9, test::defaultJti.substr(1))); },
                 bad},
        CheckRow{"Jti33",
                 [] {
                     return withPayload(
                         payloadJson(host, now + 9, std::string(test::defaultJti) + "0"));
                 },
                 bad},
        CheckRow{"JtiNotHex",
                 [] {
                     return withPayload(
                         payloadJson(host, now + 9, "0123456789abcdef0123456789abcdeg"));
                 },
                 bad},
        CheckRow{
            "PayloadExpFraction",
            [] {
                return withPayload(
                    R"({"aud":"forge.example","diff":1,"exp":1800000060.5,"jti":"0123456789abcdef0123456789abcdef"})");
            },
            bad},
        CheckRow{
            "PayloadExpString",
            [] {
                return withPayload(
                    R"({"aud":"forge.example","diff":1,"exp":"1800000060","jti":"0123456789abcdef0123456789abcdef"})");
            },
            bad},
        CheckRow{
            "PayloadExpAboveInt64",
            [] {
                return withPayload(
                    R"({"aud":"forge.example","diff":1,"exp":9223372036854775808,"jti":"0123456789abcdef0123456789abcdef"})");
            },
            bad},
        CheckRow{
            "PayloadExpInt64Max",
            [] {
                return withPayload(
                    R"({"aud":"forge.example","diff":1,"exp":9223372036854775807,"jti":"0123456789abcdef0123456789abcdef"})");
            },
            ready},
        CheckRow{
            "PayloadExpTwice",
            [] {
                return withPayload(
                    R"({"aud":"forge.example","diff":1,"exp":1800000060,"exp":1800000060,"jti":"0123456789abcdef0123456789abcdef"})");
            },
            bad},
        CheckRow{
            "PayloadJtiTwice",
            [] {
                return withPayload(
                    R"({"aud":"forge.example","diff":1,"exp":1800000060,"jti":"0123456789abcdef0123456789abcdef","jti":"0123456789abcdef0123456789abcdef"})");
            },
            bad},
        CheckRow{
            "PayloadDiffString",
            [] {
                return withPayload(
                    R"({"aud":"forge.example","diff":"1","exp":1800000060,"jti":"0123456789abcdef0123456789abcdef"})");
            },
            bad},
        CheckRow{
            "PayloadDiffInteger",
            [] {
                return withPayload(
                    R"({"aud":"forge.example","diff":3,"exp":1800000060,"jti":"0123456789abcdef0123456789abcdef"})");
            },
            ready},
        CheckRow{
            "PayloadDiffMissing",
            [] {
                return withPayload(
                    R"({"aud":"forge.example","exp":1800000060,"jti":"0123456789abcdef0123456789abcdef"})");
            },
            bad},
        CheckRow{"PayloadAudMissing",
                 [] {
                     return withPayload(
                         R"({"diff":1,"exp":1800000060,"jti":"0123456789abcdef0123456789abcdef"})");
                 },
                 bad},
        CheckRow{
            "PayloadAudNumber",
            [] {
                return withPayload(
                    R"({"aud":1,"diff":1,"exp":1800000060,"jti":"0123456789abcdef0123456789abcdef"})");
            },
            bad},
        CheckRow{
            "PayloadExpMissing",
            [] {
                return withPayload(
                    R"({"aud":"forge.example","diff":1,"jti":"0123456789abcdef0123456789abcdef"})");
            },
            bad},
        CheckRow{"PayloadJtiMissing",
                 [] { return withPayload(R"({"aud":"forge.example","diff":1,"exp":1800000060})"); },
                 bad},
        CheckRow{"PayloadBadUtf8",
                 [] {
                     return withPayload(
                         "{\"aud\":\"\xff\",\"diff\":1,\"exp\":1800000060,\"jti\":"
                         "\"0123456789abcdef0123456789abcdef\"}");
                 },
                 bad}),
    [](const auto& info) { return info.param.name; });

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
    const std::string headerAlgTwice = withHeader(R"({"alg":"EdDSA","alg":"EdDSA","kid":"k1"})");
    const std::size_t before = test::allocationCount();
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(checker->check(token, host, keys, now).has_value());
        EXPECT_FALSE(checker->check(headerAlgTwice, host, keys, now).has_value());
    }
    EXPECT_EQ(test::allocationCount(), before);
}

}  // namespace
}  // namespace vorn
