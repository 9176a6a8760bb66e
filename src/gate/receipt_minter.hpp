#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <mutex>
#include <string_view>

#include "common/text_writer.hpp"
#include "gate/gate_fault.hpp"
#include "token/private_key_file.hpp"
#include "token/receipt.hpp"

namespace vorn {

// Room for one receipt: the longest the agent accepts.
using ReceiptText = std::array<char, maxTokenLength>;

// Signs pass receipts with the gate's private key, in exactly the form the
// agent accepts: header {"alg":"EdDSA","kid":KID}, payload with aud, diff,
// exp and a random jti. The key pair and the header segment are made once
// per key; minting writes into fixed buffers. The key can be replaced while
// the workers mint (SIGHUP).
class ReceiptMinter {
public:
    // `lifetimeSeconds` at least 1.
    ReceiptMinter(const PrivateKey& key, std::int64_t lifetimeSeconds);
    ~ReceiptMinter();
    ReceiptMinter(const ReceiptMinter&) = delete;
    ReceiptMinter& operator=(const ReceiptMinter&) = delete;

    // Receipts minted from now on are signed with `key`.
    void replaceKey(const PrivateKey& key);

    // A receipt for the site `host` (the request's Host header, port and
    // all), for work of `difficulty`, good until nowSeconds + lifetime,
    // written into `out`. BadHost for a host that is not a plain host name or
    // address with an optional port (it goes into JSON unescaped);
    // TokenTooLong when the receipt would not fit the agent's limits.
    [[nodiscard]] std::expected<std::string_view, GateFault> mint(std::string_view host,
                                                                  double difficulty,
                                                                  std::int64_t nowSeconds,
                                                                  ReceiptText& out) const;

    // The Set-Cookie value that carries `token` for the receipt's lifetime;
    // Secure when the visitor came over HTTPS (a browser drops a Secure
    // cookie that a plain-HTTP page sets).
    void writeCookie(TextWriter& out, std::string_view token, bool secure) const;

    // The key id receipts are signed under now.
    void writeKeyId(TextWriter& out) const;

    [[nodiscard]] std::int64_t lifetime() const { return lifetime_; }

private:
    struct SigningKey {
        std::array<unsigned char, 64> secretKey{};
        // base64url of the header JSON: at most 128 bytes of kid and 27 more.
        std::array<char, 212> headerSegment{};
        std::size_t headerLength = 0;
        std::array<char, maxKeyIdLength> kid{};
        std::size_t kidLength = 0;
    };

    static void derive(const PrivateKey& key, SigningKey& into);

    const std::int64_t lifetime_;
    mutable std::mutex mutex_;  // guards key_
    SigningKey key_;
};

// True for 1 to 255 bytes of A-Z a-z 0-9 - . : [ ]
[[nodiscard]] bool isPlainHost(std::string_view host);

}  // namespace vorn
