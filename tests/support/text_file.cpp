#include "support/text_file.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace vorn::test {

std::string readTextFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    EXPECT_TRUE(file.good() || file.eof()) << "cannot read " << path;
    return text.str();
}

}  // namespace vorn::test
