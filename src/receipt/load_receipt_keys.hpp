#pragma once

#include <string>
#include <string_view>

#include "common/challenge_mode.hpp"
#include "receipt/receipt_key_set.hpp"

namespace vorn {

// Largest key file accepted.
inline constexpr std::size_t receiptKeyFileLimit = 65536;

// Reads and parses the key file at `path` and, only when all of it is
// accepted, replaces `current` with it. Logs the outcome, prefixed with
// `reason` ("start", "SIGHUP"): info on success; a warning on failure in
// modes shadow and on (nothing in mode off); and an error line in mode on
// whenever `current` ends up empty. Never fails towards the caller, who
// reads current.size() afterwards.
void loadReceiptKeys(std::string_view reason, const std::string& path, ChallengeMode mode,
                     ReceiptKeySet& current);

}  // namespace vorn
