#pragma once

#include "observe/metrics_page.hpp"
#include "receipt/receipt_state.hpp"

namespace vorn {

// The receipts' figures on the metrics page: keys loaded, book entries and
// revocations.
void fillReceiptGauges(const ReceiptState& receipts, MetricsGauges& gauges);

}  // namespace vorn
