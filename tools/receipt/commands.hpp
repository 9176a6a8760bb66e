#pragma once

#include <span>

#include "arguments.hpp"

namespace vorn::tool {

// Each command gets the words after its name and prints its result on
// standard output; a failure is the message for standard error.
[[nodiscard]] Result<void> keygenCommand(std::span<char* const> words);
[[nodiscard]] Result<void> mintCommand(std::span<char* const> words);
[[nodiscard]] Result<void> checkCommand(std::span<char* const> words);

}  // namespace vorn::tool
