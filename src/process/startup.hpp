#pragma once

#include <span>

namespace vorn {

// The daemon: parses the command line, brings everything up in order, runs
// the event loop, and takes everything down when the loop stops on an error.
// Returns the exit status, always 1: the daemon only ends by itself on an
// error (SIGTERM and SIGINT end it at once, with their default action).
[[nodiscard]] int runDaemon(std::span<const char* const> arguments);

}  // namespace vorn
