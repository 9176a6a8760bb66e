#include "common/whole_file.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.hpp"

namespace vorn {
namespace {

TEST(WholeFile, ReadsUpToTheLimitAndNamesWhatFails) {
    test::TempDir dir;
    std::string exact = dir.file("exact");
    std::ofstream(exact) << std::string(100, 'k');
    std::string over = dir.file("over");
    std::ofstream(over) << std::string(101, 'k');

    auto read = readWholeFile(exact, 100);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, std::string(100, 'k'));
    EXPECT_EQ(readWholeFile(over, 100).error(), Error::FileTooBig);
    EXPECT_EQ(readWholeFile(dir.file("missing"), 100).error(), Error::FileNotFound);
    EXPECT_EQ(readWholeFile(dir.path(), 100).error(), Error::IsDir);
    EXPECT_EQ(readWholeFile(exact + "/below", 100).error(), Error::NotDir);
}

}  // namespace
}  // namespace vorn
