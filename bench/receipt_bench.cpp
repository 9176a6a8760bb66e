// What a pass receipt costs: the check on the loop thread, the receipt
// book's answer for a receipt already verified (every request after the
// first), and the signature check a worker makes once per receipt.

#include <benchmark/benchmark.h>

#include <limits>
#include <string>

#include "common/wyhash.hpp"
#include "receipt/receipt_book.hpp"
#include "receipt/receipt_checker.hpp"
#include "receipt/signature.hpp"
#include "receipt/token_signer.hpp"

namespace vorn {
namespace {

constexpr std::int64_t now = 1'800'000'000;
constexpr std::string_view host = "forge.example";

SigningSeed seed() {
    SigningSeed bytes{};
    bytes.fill(std::byte{7});
    return bytes;
}

std::string goodToken() {
    return *signToken(R"({"alg":"EdDSA","kid":"2024-05"})",
                      R"({"aud":"forge.example","diff":0.0001220703125,"exp":1800003600,)"
                      R"("jti":"8f14e45fceea167a5a36dedd4bea2543"})",
                      seed());
}

ReceiptKeySet keys() {
    return *parseReceiptKeys("2024-05 " + publicKeyText(seed()));
}

void checkGoodToken(benchmark::State& state) {
    const ReceiptKeySet keySet = keys();
    auto checker = ReceiptChecker::create();
    const std::string token = goodToken();
    for (auto _ : state) {
        auto checked = checker->check(token, host, keySet, now);
        if (!checked) {
            state.SkipWithError("the token was refused");
            break;
        }
        benchmark::DoNotOptimize(checked->fingerprint);
    }
}
BENCHMARK(checkGoodToken);

// A verified receipt used again from the same address; the limits are out
// of reach so that every use is admitted.
void repeatReceipt(benchmark::State& state) {
    auto book = ReceiptBook::create(std::numeric_limits<std::uint32_t>::max(), 4);
    const ReceiptKeySet keySet = keys();
    auto checker = ReceiptChecker::create();
    const Receipt receipt = *checker->check(goodToken(), host, keySet, now);
    const std::uint64_t ipHash = wyhash("198.51.100.7");
    (void)book->lookup(receipt.jti, receipt.fingerprint, receipt.exp, ipHash, now);
    (void)book->complete(receipt.jti, receipt.fingerprint, true, ipHash, now);
    for (auto _ : state) {
        BookAnswer answer =
            book->lookup(receipt.jti, receipt.fingerprint, receipt.exp, ipHash, now);
        if (answer.status != ReceiptStatus::valid) {
            state.SkipWithError("the receipt was not admitted");
            break;
        }
    }
}
BENCHMARK(repeatReceipt);

void verifySignature(benchmark::State& state) {
    const ReceiptKeySet keySet = keys();
    auto checker = ReceiptChecker::create();
    const Receipt receipt = *checker->check(goodToken(), host, keySet, now);
    for (auto _ : state) {
        if (!verifyReceiptSignature(receipt.signedText(), receipt.signature, receipt.publicKey)) {
            state.SkipWithError("the signature was refused");
            break;
        }
    }
}
BENCHMARK(verifySignature);

}  // namespace
}  // namespace vorn
