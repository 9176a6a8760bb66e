// Hands arbitrary tokens to the receipt check. A first byte of 0 passes the
// rest as the token itself; any other first byte splits the rest at its
// first newline into header and payload JSON, which are encoded and given a
// signature segment, so that the JSON readers see every mutation. A token
// that passes must match what it was made from. Also checks that base64url
// decoding accepts exactly one spelling of each byte string.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/wyhash.hpp"
#include "token/base64url.hpp"
#include "token/key_id.hpp"
#include "token/receipt_checker.hpp"

namespace {

constexpr std::int64_t now = 1'800'000'000;
constexpr std::string_view host = "forge.example";
// Any 64 bytes: the check does not verify signatures.
const std::string signature(86, 'A');

void require(bool condition) {
    if (!condition) std::abort();
}

void checkOneSpelling(std::string_view text) {
    std::array<std::byte, 512> bytes{};
    auto decoded = vorn::decodeBase64Url(text, bytes);
    if (!decoded) return;
    std::array<char, 700> again{};
    auto encoded = vorn::encodeBase64Url(std::span(bytes).first(*decoded), again);
    require(encoded && std::string_view(again.data(), *encoded) == text);
}

std::string segment(std::string_view json) {
    std::array<char, 1400> text{};
    auto encoded = vorn::encodeBase64Url(std::as_bytes(std::span(json.data(), json.size())), text);
    return std::string(text.data(), encoded.value_or(0));
}

std::string tokenOf(std::string_view input) {
    if (input.front() == 0) return std::string(input.substr(1));
    input.remove_prefix(1);
    const std::size_t newline = input.find('\n');
    if (newline == std::string_view::npos) return std::string(input);
    return segment(input.substr(0, newline)) + "." + segment(input.substr(newline + 1)) + "." +
           signature;
}

const vorn::ReceiptKeySet& keys() {
    static const vorn::ReceiptKeySet set =
        *vorn::parseReceiptKeys("k1 iojj3XQJ8ZX9UtstPLpdcspnCb8dlBIb83SIAbQPb1w\n");
    return set;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static auto checker = vorn::ReceiptChecker::create();
    if (size == 0 || size > 4096) return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    checkOneSpelling(input);

    const std::string token = tokenOf(input);
    auto checked = checker->check(token, host, keys(), now);
    if (!checked) {
        const auto status = checked.error();
        require(status == vorn::ReceiptStatus::bad || status == vorn::ReceiptStatus::expired ||
                status == vorn::ReceiptStatus::wrong_host);
        return 0;
    }
    require(token.size() <= vorn::maxTokenLength);
    require(checked->signedText() == std::string_view(token).substr(0, token.rfind('.')));
    require(checked->exp > now);
    require(vorn::isKeyId(checked->keyId()) && keys().lookup(checked->keyId()) != nullptr);
    require(checked->fingerprint == vorn::wyhash(token));
    return 0;
}
