#pragma once

#include <simdjson.h>

#include <array>
#include <cstdint>
#include <expected>
#include <string_view>

#include "common/error.hpp"
#include "common/receipt_status.hpp"
#include "token/receipt.hpp"
#include "token/receipt_key_set.hpp"

namespace vorn {

// Either a receipt ready for the receipt book (and, when the book asks, a
// signature check), or the final status it earned: bad, expired or
// wrong_host.
using ReceiptCheck = std::expected<Receipt, ReceiptStatus>;

// Checks pass-receipt tokens without their signature. Holds a JSON parser
// and a scratch area set up once, so that a check allocates nothing; one
// checker per thread (the loop thread owns the daemon's).
class ReceiptChecker {
public:
    // OutOfMemory when the parser cannot be set up.
    [[nodiscard]] static std::expected<ReceiptChecker, Error> create();

    // Checks, in this order and stopping at the first failure: the length
    // (at most 407 bytes), the three segments (signing input at most 320
    // bytes), the 64-byte signature, the header (alg EdDSA, a valid kid),
    // the payload (aud, diff, exp, jti), expiry (exp must be after
    // `nowSeconds`), audience (aud equal to `host`, byte for byte), and the
    // key named by kid in `keys`. So an expired token is expired whatever its
    // signature. Malformed input of any kind is bad.
    [[nodiscard]] ReceiptCheck check(std::string_view token, std::string_view host,
                                     const ReceiptKeySet& keys, std::int64_t nowSeconds);

private:
    explicit ReceiptChecker(simdjson::dom::parser parser) : parser_(std::move(parser)) {}

    // Decodes one base64url JSON segment into the scratch area and parses it
    // as an object. The object lives until the next parse.
    [[nodiscard]] bool parseSegment(std::string_view segment, simdjson::dom::object& object);
    [[nodiscard]] bool readHeader(std::string_view segment, Receipt& receipt);

    struct Payload {
        std::string_view aud;  // into the parser, valid until the next parse
        std::int64_t exp = 0;
        double diff = 0;
        Jti jti{};
    };
    [[nodiscard]] bool readPayload(std::string_view segment, Payload& payload);

    simdjson::dom::parser parser_;
    // Decoded segments; the tail stays free as the parser's reading padding.
    std::array<char, 4096> scratch_{};
};

}  // namespace vorn
