#pragma once

#include <string_view>

#include "common/text_writer.hpp"
#include "observe/log_level.hpp"
#include "observe/log_line.hpp"

namespace vorn {

// The buffer a message is formatted into before logMessage(); what does not
// fit is cut.
using LogMessage = FixedText<logLineCapacity>;

// Emits "ts=... level=... msg=<message>": through the published log queue,
// or directly when there is none or its ring is full, so lack of room never
// loses an ordinary line.
void logMessage(LogLevel level, std::string_view message);

// Writes `line` (cut at 4095 bytes) and a newline to standard error in one
// write, under the process-wide standard-error lock, which its owner may
// take again.
void writeDirect(std::string_view line);

}  // namespace vorn
