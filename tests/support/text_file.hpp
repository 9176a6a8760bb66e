#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace vorn::test {

// The whole of the file at `path`; a test failure (and what could be read)
// when it cannot be read.
[[nodiscard]] inline std::string readTextFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    EXPECT_TRUE(file.good() || file.eof()) << "cannot read " << path;
    return text.str();
}

}  // namespace vorn::test
