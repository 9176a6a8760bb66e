#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "gate_fault.hpp"
#include "token/private_key_file.hpp"

namespace vorn::gate {

// Signs pass receipts with the gate's private key, in exactly the form the
// agent accepts: header {"alg":"EdDSA","kid":KID}, payload with aud, diff,
// exp and a random jti.
class ReceiptMinter {
public:
    // `lifetime` in seconds, at least 1.
    ReceiptMinter(PrivateKey key, std::int64_t lifetime);
    ~ReceiptMinter();
    ReceiptMinter(const ReceiptMinter&) = delete;
    ReceiptMinter& operator=(const ReceiptMinter&) = delete;

    // A receipt for the site `host` (the request's Host header, port and
    // all), for work of `difficulty`, good until now + lifetime. BadHost for
    // a host that is not a plain host name or address with an optional port
    // (it is copied into JSON unescaped); TokenTooLong when the receipt would
    // not fit the agent's limits.
    [[nodiscard]] std::expected<std::string, Fault> mint(std::string_view host, double difficulty,
                                                         std::int64_t now) const;

    // The Set-Cookie value that carries `token` for the receipt's lifetime.
    [[nodiscard]] std::string cookie(std::string_view token) const;

    [[nodiscard]] std::int64_t lifetime() const { return lifetime_; }

private:
    PrivateKey key_;
    std::int64_t lifetime_;
};

// True for 1 to 255 bytes of A-Z a-z 0-9 - . : [ ]
[[nodiscard]] bool isPlainHost(std::string_view host);

}  // namespace vorn::gate
