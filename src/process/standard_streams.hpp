#pragma once

#include <expected>

#include "common/error.hpp"

namespace vorn {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// nothing the daemon opens later (the event queue, a listener) becomes
// standard error and receives log lines. Call before anything else is
// opened. Fails with the file-system error of opening /dev/null.
[[nodiscard]] std::expected<void, Error> openMissingStandardStreams();

}  // namespace vorn
