#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace vorn::test {
namespace {

TEST(TempDir, IsRemovedWithItsContents) {
    std::string path;
    {
        TempDir dir;
        path = dir.path();
        ASSERT_TRUE(std::filesystem::is_directory(path));
        EXPECT_EQ(dir.file("keys"), path + "/keys");
        std::filesystem::create_directory(dir.file("sub"));
        std::ofstream(dir.file("sub/file")) << "x";
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(TempDir, EachIsFresh) {
    TempDir a;
    TempDir b;
    EXPECT_NE(a.path(), b.path());
}

}  // namespace
}  // namespace vorn::test
