#include "receipt/receipt_state.hpp"

namespace vorn {

std::expected<ReceiptState, Error> ReceiptState::create(std::uint32_t maxRequests,
                                                        std::uint8_t maxIps) {
    auto checker = ReceiptChecker::create();
    if (!checker) return std::unexpected(checker.error());
    auto book = ReceiptBook::create(maxRequests, maxIps);
    if (!book) return std::unexpected(book.error());
    return ReceiptState{{}, std::move(*checker), std::move(*book), nullptr};
}

}  // namespace vorn
