#include "decision/path_class.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vorn {
namespace {

std::string hex(std::size_t digits) {
    std::string id;
    for (std::size_t i = 0; i < digits; ++i) id += "0123456789abcdef"[i % 16];
    return id;
}

struct ClassRow {
    std::string path;
    PathClass expected;
};

class Classify : public testing::TestWithParam<ClassRow> {};

TEST_P(Classify, GivesTheFirstMatchingClass) {
    EXPECT_EQ(classifyPath(GetParam().path), GetParam().expected) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, Classify,
    testing::Values(
        ClassRow{"/assets", PathClass::page}, ClassRow{"/assets/x", PathClass::other},
        ClassRow{"/repo-avatars/1", PathClass::other}, ClassRow{"/avatars/u", PathClass::other},
        ClassRow{"/owner/repo/info/refs?service=git-upload-pack", PathClass::gitproto},
        ClassRow{"/o/r/commit/" + hex(40) + "?q=/git-upload-pack", PathClass::gitproto},
        ClassRow{"/o/r/git-receive-pack", PathClass::gitproto},
        ClassRow{"/api/actions/tasks", PathClass::runner},
        ClassRow{"/api/actionsX", PathClass::runner}, ClassRow{"/api/repos/o/r", PathClass::api},
        ClassRow{"/api/v1/repos/o/r/git/commits/" + hex(40), PathClass::api},
        ClassRow{"/o/r/commit/0123abc", PathClass::expensive},
        ClassRow{"/o/r/commit/0123ab", PathClass::page},
        ClassRow{"/o/r/commit/0123ABC", PathClass::page},
        ClassRow{"/o/r/commit/0123abc?diff=split", PathClass::expensive},
        ClassRow{"/o/r/blame/" + hex(40) + "/main.c", PathClass::expensive},
        ClassRow{"/o/r/raw/" + hex(64) + "/main.c", PathClass::expensive},
        ClassRow{"/o/r/commits/" + hex(12), PathClass::expensive},
        ClassRow{"/o/r/archive/" + hex(40) + ".tar.gz", PathClass::expensive},
        ClassRow{"/o/r/archive/main.tar.gz", PathClass::page},
        ClassRow{"/o/r/archive/.zip", PathClass::page},
        ClassRow{"/o/r/commit/0123abc.patch", PathClass::expensive},
        ClassRow{"/o/r/commit/0123abc.diff.zip", PathClass::page},
        ClassRow{"/o/commit/commit/0123abc", PathClass::expensive},
        ClassRow{"/o/r/src/commit/" + hex(40) + "/README", PathClass::expensive},
        ClassRow{"/o/r/commits/branch/main", PathClass::commitlist},
        ClassRow{"/o/r/commits/tag/v1", PathClass::commitlist},
        ClassRow{"/o/r/src/branch/main", PathClass::srcbranch},
        ClassRow{"/o/r/src/tag/v1", PathClass::srcbranch}, ClassRow{"/o/r.rss", PathClass::page},
        ClassRow{"/o/r/rss/branch/main", PathClass::feed},
        ClassRow{"/o/r/atom/tag/v1", PathClass::feed}, ClassRow{"/o/r/issues", PathClass::tracker},
        ClassRow{"//o//r//issues/1?x=y", PathClass::tracker},
        ClassRow{"/o/r/compare/a...b", PathClass::tracker},
        ClassRow{"/o/r/milestones", PathClass::tracker}, ClassRow{"/o/r/Issues", PathClass::page},
        ClassRow{"/o/issues", PathClass::page}, ClassRow{"/o/r?/issues", PathClass::page},
        ClassRow{"/o/r/actions", PathClass::actions},
        ClassRow{"/o/r/actions/runs/5", PathClass::actions},
        ClassRow{"/admin/actions/runners", PathClass::actions},
        ClassRow{"/o/actions", PathClass::page},
        ClassRow{"/o/actions/x/actions", PathClass::actions},
        ClassRow{"/o/r/wiki?actions", PathClass::page}, ClassRow{"", PathClass::page}));

struct IdLengthRow {
    std::size_t digits;
    bool commit;
    bool bogus;
};

class CommitIdLength : public testing::TestWithParam<IdLengthRow> {};

TEST_P(CommitIdLength, DecidesCommitAndBogus) {
    const std::string path = "/o/r/commit/" + hex(GetParam().digits);
    EXPECT_EQ(isCommitPath(path), GetParam().commit);
    EXPECT_EQ(isBogusCommitPath(path), GetParam().bogus);
    EXPECT_EQ(classifyPath(path) == PathClass::expensive, GetParam().commit);
}

INSTANTIATE_TEST_SUITE_P(Lengths, CommitIdLength,
                         testing::Values(IdLengthRow{6, false, false}, IdLengthRow{7, true, false},
                                         IdLengthRow{12, true, false}, IdLengthRow{13, true, true},
                                         IdLengthRow{20, true, true}, IdLengthRow{39, true, true},
                                         IdLengthRow{40, true, false}, IdLengthRow{41, true, true},
                                         IdLengthRow{63, true, true}, IdLengthRow{64, true, false},
                                         IdLengthRow{65, false, false}));

TEST(CommitId, LaterMarkerOccurrenceCanMatch) {
    EXPECT_TRUE(isBogusCommitPath("/o/r/commit/zz/raw/" + hex(20)));
    EXPECT_FALSE(isBogusCommitPath("/o/r/commit/" + hex(40) + "/x/" + hex(20)));
}

struct SuffixRow {
    std::string segment;
    std::string stripped;
};

class ArchiveSuffix : public testing::TestWithParam<SuffixRow> {};

TEST_P(ArchiveSuffix, RemovesAtMostOne) {
    EXPECT_EQ(stripArchiveSuffix(GetParam().segment), GetParam().stripped);
}

INSTANTIATE_TEST_SUITE_P(Segments, ArchiveSuffix,
                         testing::Values(SuffixRow{"a.tar.gz", "a"},
                                         SuffixRow{"a.diff.zip", "a.diff"},
                                         SuffixRow{"a.bundle", "a"}, SuffixRow{".zip", ""},
                                         SuffixRow{"a.gz", "a.gz"}, SuffixRow{"", ""}));

}  // namespace
}  // namespace vorn
