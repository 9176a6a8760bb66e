#include "receipt_minter.hpp"

#include <sodium.h>

#include <algorithm>
#include <array>

#include "common/decimal.hpp"
#include "token/contract.hpp"
#include "token/receipt.hpp"
#include "token/token_signer.hpp"

namespace vorn::gate {

namespace {

std::string decimalText(double value) {
    std::array<char, maxDecimalLength> digits{};
    return std::string(formatDecimal(value, digits).value_or("0"));
}

}  // namespace

bool isPlainHost(std::string_view host) {
    return !host.empty() && host.size() <= 255 && std::ranges::all_of(host, [](char c) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        return alnum || c == '-' || c == '.' || c == ':' || c == '[' || c == ']';
    });
}

ReceiptMinter::ReceiptMinter(PrivateKey key, std::int64_t lifetime)
    : key_(std::move(key)), lifetime_(lifetime) {}

ReceiptMinter::~ReceiptMinter() {
    sodium_memzero(key_.seed.data(), key_.seed.size());
}

std::expected<std::string, Fault> ReceiptMinter::mint(std::string_view host, double difficulty,
                                                      std::int64_t now) const {
    if (!isPlainHost(host)) return std::unexpected(Fault::BadHost);
    auto token = mintReceipt(key_.seed, key_.kid, host, decimalText(difficulty), now + lifetime_);
    if (!token) return std::unexpected(Fault::OutOfMemory);
    const std::size_t lastDot = token->rfind('.');
    if (token->size() > maxTokenLength || lastDot > maxSigningInputLength) {
        return std::unexpected(Fault::TokenTooLong);
    }
    return std::move(*token);
}

std::string ReceiptMinter::cookie(std::string_view token) const {
    return std::string(passCookie) + "=" + std::string(token) +
           "; Max-Age=" + std::to_string(lifetime_) + "; Path=/; Secure; HttpOnly; SameSite=Lax";
}

}  // namespace vorn::gate
