#pragma once

#include <expected>

#include "common/error.hpp"
#include "receipt/receipt_book.hpp"
#include "receipt/verify_pool.hpp"
#include "token/receipt_checker.hpp"
#include "token/receipt_key_set.hpp"

namespace vorn {

// What the decision keeps to judge pass receipts: the current keys, the
// token checker, the receipt book and the signature workers (none while
// challenges are off). Belongs to the loop thread.
struct ReceiptState {
    // Reserves the checker's parser and the book (OutOfMemory).
    [[nodiscard]] static std::expected<ReceiptState, Error> create(std::uint32_t maxRequests,
                                                                   std::uint8_t maxIps);

    ReceiptKeySet keys;
    ReceiptChecker checker;
    ReceiptBook book;
    VerifyPool* pool = nullptr;
};

}  // namespace vorn
