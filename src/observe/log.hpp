#pragma once

#include <cstdint>
#include <string_view>

#include "common/text_writer.hpp"
#include "observe/log_level.hpp"
#include "observe/log_line.hpp"

namespace vorn {

// The buffer a message is formatted into before logMessage(); what does not
// fit is cut.
using LogMessage = FixedText<logLineCapacity>;

// Emits "ts=... level=... msg=<message>" through the published log queue.
// Only without a queue (before start-up has made it, once shutdown has
// stopped it) is the line written directly. With the ring full it is
// dropped and counted: a write on the loop could wait for ever on a reader
// that stopped reading.
void logMessage(LogLevel level, std::string_view message);

// Ordinary lines dropped so far because the ring was full, process-wide.
[[nodiscard]] std::uint64_t logMessagesDropped();

// Writes `line` (cut at 4095 bytes) and a newline to standard error in one
// write, under the process-wide standard-error lock, which its owner may
// take again.
void writeDirect(std::string_view line);

}  // namespace vorn
