#include "loop/change_list.hpp"

#include <gtest/gtest.h>

#include <csignal>

namespace vorn {
namespace {

kev::Change change(int ident, kev::Filter filter) {
    return {static_cast<std::uintptr_t>(ident), filter, kev::add, 0, nullptr};
}

TEST(ChangeList, DropsEveryReadAndWriteChangeOfADescriptorAndKeepsTheRestInOrder) {
    ChangeList list;
    for (const kev::Change& c :
         {change(5, kev::Filter::read), change(6, kev::Filter::read), change(5, kev::Filter::write),
          change(SIGHUP, kev::Filter::signal), change(7, kev::Filter::write)}) {
        ASSERT_TRUE(list.append(c));
    }
    // Signal 1 shares the number of descriptor 1 but is not a descriptor change.
    list.removeDescriptor(5);
    list.removeDescriptor(SIGHUP);
    ASSERT_EQ(list.view().size(), 3u);
    EXPECT_EQ(list.view()[0].ident, 6u);
    EXPECT_EQ(list.view()[1].filter, kev::Filter::signal);
    EXPECT_EQ(list.view()[2].ident, 7u);
    list.removeSignal(SIGHUP);
    EXPECT_EQ(list.view().size(), 2u);
}

TEST(ChangeList, GrowsPastItsFirstCapacity) {
    ChangeList list;
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(list.append(change(i, kev::Filter::read)));
    EXPECT_EQ(list.view().size(), 1000u);
    EXPECT_EQ(list.view()[999].ident, 999u);
    list.clear();
    EXPECT_TRUE(list.view().empty());
}

}  // namespace
}  // namespace vorn
