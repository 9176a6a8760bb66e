#include "receipt/receipt_gauges.hpp"

namespace vorn {

void fillReceiptGauges(const ReceiptState& receipts, MetricsGauges& gauges) {
    gauges.receiptKeys = receipts.keys.size();
    gauges.receiptBookEntries = receipts.book.entries();
    gauges.receiptsRevoked = receipts.book.revokedTotal();
}

}  // namespace vorn
