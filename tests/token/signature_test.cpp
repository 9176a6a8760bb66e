#include "token/signature.hpp"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>
#include <functional>
#include <string>

#include "token/base64url.hpp"
#include "token/token_maker.hpp"

namespace vorn {
namespace {

struct SignedMessage {
    std::string message;
    Signature signature{};
    PublicKey publicKey{};
};

// `length` bytes signed with seed 3's key.
SignedMessage signedMessage(std::size_t length) {
    SignedMessage made;
    made.message = std::string(length, 'm');
    const SigningSeed seed = test::seedOf(3);
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
    crypto_sign_seed_keypair(publicKey.data(), secretKey.data(),
                             reinterpret_cast<const unsigned char*>(seed.data()));
    crypto_sign_detached(reinterpret_cast<unsigned char*>(made.signature.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(made.message.data()),
                         made.message.size(), secretKey.data());
    std::memcpy(made.publicKey.data(), publicKey.data(), publicKey.size());
    return made;
}

struct SignatureRow {
    std::string name;
    std::size_t messageLength;  // of the signed text
    std::function<void(SignedMessage&)> change;
    bool verifies;
};

void PrintTo(const SignatureRow& row, std::ostream* out) {
    *out << row.name;
}

class VerifySignature : public testing::TestWithParam<SignatureRow> {};

TEST_P(VerifySignature, AcceptsOnlyTheSignersSignature) {
    SignedMessage made = signedMessage(GetParam().messageLength);
    GetParam().change(made);
    EXPECT_EQ(verifyReceiptSignature(made.message, made.signature, made.publicKey),
              GetParam().verifies)
        << made.message.size();
}

void unchanged(SignedMessage&) {}

INSTANTIATE_TEST_SUITE_P(
    Signatures, VerifySignature,
    testing::Values(
        SignatureRow{"Good", 20, unchanged, true}, SignatureRow{"Message320", 320, unchanged, true},
        SignatureRow{"Message321", 321, unchanged, false},
        SignatureRow{"MessageChanged", 20, [](SignedMessage& m) { m.message[3] ^= 1; }, false},
        SignatureRow{"SignatureChanged", 20,
                     [](SignedMessage& m) { m.signature[5] ^= std::byte{1}; }, false},
        SignatureRow{"SAboveGroupOrder", 20,
                     [](SignedMessage& m) { m.signature[63] |= std::byte{0xf0}; }, false},
        SignatureRow{"OtherKey", 20,
                     [](SignedMessage& m) {
                         (void)decodeBase64Url(publicKeyText(test::seedOf(4)), m.publicKey);
                     },
                     false},
        SignatureRow{"KeyYNotCanonical", 20,
                     [](SignedMessage& m) {
                         m.publicKey.fill(std::byte{0xff});
                         m.publicKey[0] = std::byte{0xed};
                         m.publicKey[31] = std::byte{0x7f};
                     },
                     false},
        SignatureRow{"KeyNeutralPoint", 20,
                     [](SignedMessage& m) {
                         m.publicKey.fill(std::byte{0});
                         m.publicKey[0] = std::byte{1};
                     },
                     false},
        SignatureRow{"RNeutralPoint", 20,
                     [](SignedMessage& m) {
                         std::fill(m.signature.begin(), m.signature.begin() + 32, std::byte{0});
                         m.signature[0] = std::byte{1};
                     },
                     false}),
    [](const auto& info) { return info.param.name; });

struct CanonicalRow {
    std::string name;
    std::byte low;
    std::byte middle;
    std::byte top;
    bool canonical;
};

void PrintTo(const CanonicalRow& row, std::ostream* out) {
    *out << row.name;
}

class CanonicalKey : public testing::TestWithParam<CanonicalRow> {};

TEST_P(CanonicalKey, YMustBeBelowThePrime) {
    PublicKey key{};
    key.fill(GetParam().middle);
    key[0] = GetParam().low;
    key[31] = GetParam().top;
    EXPECT_EQ(isCanonicalPublicKey(key), GetParam().canonical);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, CanonicalKey,
    testing::Values(
        CanonicalRow{"Zero", std::byte{0}, std::byte{0}, std::byte{0}, true},
        CanonicalRow{"PrimeMinus1", std::byte{0xec}, std::byte{0xff}, std::byte{0x7f}, true},
        CanonicalRow{"PrimeMinus1Signed", std::byte{0xec}, std::byte{0xff}, std::byte{0xff}, true},
        CanonicalRow{"Prime", std::byte{0xed}, std::byte{0xff}, std::byte{0x7f}, false},
        CanonicalRow{"PrimeSigned", std::byte{0xed}, std::byte{0xff}, std::byte{0xff}, false},
        CanonicalRow{"PrimePlus18", std::byte{0xff}, std::byte{0xff}, std::byte{0x7f}, false},
        CanonicalRow{"MiddleByteBelow", std::byte{0xff}, std::byte{0xfe}, std::byte{0x7f}, true},
        CanonicalRow{"TopByteBelow", std::byte{0xff}, std::byte{0xff}, std::byte{0x7e}, true}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn
