#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/deadline.hpp"

namespace vorn::test {

struct CommandResult {
    int status = -1;     // exit code, or 128 plus the signal number
    std::string output;  // standard output
};

// Runs a command (looked up in PATH) with standard input from /dev/null and
// collects its standard output. A command still running at the timeout is
// killed by its PID; the result is then nothing (and a test failure).
[[nodiscard]] std::optional<CommandResult> runCommand(const std::vector<std::string>& command,
                                                      Millis timeout = defaultTimeout);

}  // namespace vorn::test
