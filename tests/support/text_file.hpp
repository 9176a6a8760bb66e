#pragma once

#include <string>

namespace vorn::test {

// The whole of the file at `path`; a test failure (and what could be read)
// when it cannot be read.
[[nodiscard]] std::string readTextFile(const std::string& path);

}  // namespace vorn::test
