#pragma once

#include <string>
#include <string_view>

#include "common/challenge_mode.hpp"
#include "token/receipt_key_set.hpp"

namespace vorn {

// Reads and parses the key file at `path` and, only when all of it is
// accepted, replaces `current` with it. Logs the outcome, prefixed with
// `reason` ("start", "SIGHUP"): info on success; a warning on failure in
// modes shadow and on (nothing in mode off); and an error line in mode on
// whenever `current` ends up empty. Never fails towards the caller, who
// reads current.size() afterwards.
void loadReceiptKeys(std::string_view reason, std::string_view path, ChallengeMode mode,
                     ReceiptKeySet& current);

}  // namespace vorn
