#include "decision/path_class.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

std::string hex(std::size_t digits) {
    std::string id;
    for (std::size_t i = 0; i < digits; ++i) id += "0123456789abcdef"[i % 16];
    return id;
}

struct ClassRow {
    std::string name;
    std::string path;
    PathClass expected;
};

void PrintTo(const ClassRow& row, std::ostream* out) {
    *out << row.name << ": " << row.path;
}

// The row's name and the class it expects: "Commit6HexDigitsIsPage".
std::string classRowName(const testing::TestParamInfo<ClassRow>& info) {
    return test::testName({info.param.name, "is", pathClassName(info.param.expected)});
}

class Classify : public testing::TestWithParam<ClassRow> {};

TEST_P(Classify, GivesTheFirstMatchingClass) {
    EXPECT_EQ(classifyPath(GetParam().path), GetParam().expected) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, Classify,
    testing::Values(
        ClassRow{"AssetsAlone", "/assets", PathClass::page},
        ClassRow{"UnderAssets", "/assets/x", PathClass::other},
        ClassRow{"UnderRepoAvatars", "/repo-avatars/1", PathClass::other},
        ClassRow{"UnderAvatars", "/avatars/u", PathClass::other},
        ClassRow{"InfoRefsForUploadPack", "/owner/repo/info/refs?service=git-upload-pack",
                 PathClass::gitproto},
        ClassRow{"UploadPackInTheQueryOfACommit", "/o/r/commit/" + hex(40) + "?q=/git-upload-pack",
                 PathClass::gitproto},
        ClassRow{"ReceivePack", "/o/r/git-receive-pack", PathClass::gitproto},
        ClassRow{"ApiActionsTasks", "/api/actions/tasks", PathClass::runner},
        ClassRow{"ApiActionsPrefix", "/api/actionsX", PathClass::runner},
        ClassRow{"ApiRepos", "/api/repos/o/r", PathClass::api},
        ClassRow{"CommitUnderApi", "/api/v1/repos/o/r/git/commits/" + hex(40), PathClass::api},
        ClassRow{"Commit7HexDigits", "/o/r/commit/0123abc", PathClass::expensive},
        ClassRow{"Commit6HexDigits", "/o/r/commit/0123ab", PathClass::page},
        ClassRow{"CommitUpperCaseHex", "/o/r/commit/0123ABC", PathClass::page},
        ClassRow{"CommitWithQuery", "/o/r/commit/0123abc?diff=split", PathClass::expensive},
        ClassRow{"BlameAtACommit", "/o/r/blame/" + hex(40) + "/main.c", PathClass::expensive},
        ClassRow{"RawAtASha256Commit", "/o/r/raw/" + hex(64) + "/main.c", PathClass::expensive},
        ClassRow{"CommitsAtACommit", "/o/r/commits/" + hex(12), PathClass::expensive},
        ClassRow{"ArchiveOfACommit", "/o/r/archive/" + hex(40) + ".tar.gz", PathClass::expensive},
        ClassRow{"ArchiveOfABranch", "/o/r/archive/main.tar.gz", PathClass::page},
        ClassRow{"ArchiveWithoutAName", "/o/r/archive/.zip", PathClass::page},
        ClassRow{"CommitPatch", "/o/r/commit/0123abc.patch", PathClass::expensive},
        ClassRow{"CommitDiffZip", "/o/r/commit/0123abc.diff.zip", PathClass::page},
        ClassRow{"RepoNamedCommit", "/o/commit/commit/0123abc", PathClass::expensive},
        ClassRow{"SourceAtACommit", "/o/r/src/commit/" + hex(40) + "/README", PathClass::expensive},
        ClassRow{"CommitsOfABranch", "/o/r/commits/branch/main", PathClass::commitlist},
        ClassRow{"CommitsOfATag", "/o/r/commits/tag/v1", PathClass::commitlist},
        ClassRow{"SourceOfABranch", "/o/r/src/branch/main", PathClass::srcbranch},
        ClassRow{"SourceOfATag", "/o/r/src/tag/v1", PathClass::srcbranch},
        ClassRow{"RepoRss", "/o/r.rss", PathClass::page},
        ClassRow{"RssOfABranch", "/o/r/rss/branch/main", PathClass::feed},
        ClassRow{"AtomOfATag", "/o/r/atom/tag/v1", PathClass::feed},
        ClassRow{"Issues", "/o/r/issues", PathClass::tracker},
        ClassRow{"IssueWithDoubledSlashesAndQuery", "//o//r//issues/1?x=y", PathClass::tracker},
        ClassRow{"Compare", "/o/r/compare/a...b", PathClass::tracker},
        ClassRow{"Milestones", "/o/r/milestones", PathClass::tracker},
        ClassRow{"IssuesUpperCase", "/o/r/Issues", PathClass::page},
        ClassRow{"IssuesWithoutARepo", "/o/issues", PathClass::page},
        ClassRow{"IssuesAfterAQuery", "/o/r?/issues", PathClass::page},
        ClassRow{"Actions", "/o/r/actions", PathClass::actions},
        ClassRow{"ActionsRun", "/o/r/actions/runs/5", PathClass::actions},
        ClassRow{"AdminRunners", "/admin/actions/runners", PathClass::actions},
        ClassRow{"ActionsWithoutARepo", "/o/actions", PathClass::page},
        ClassRow{"ActionsInARepoNamedActions", "/o/actions/x/actions", PathClass::actions},
        ClassRow{"ActionsInTheQuery", "/o/r/wiki?actions", PathClass::page},
        ClassRow{"Empty", "", PathClass::page}),
    classRowName);

// Where a Gitea or Forgejo forge's own URLs land, and GitLab-style "/-/"
// paths, as README.md's table says; its other rows are in the table above.
INSTANTIATE_TEST_SUITE_P(
    ForgeUrls, Classify,
    testing::Values(
        ClassRow{"GiteaRawAtACommit", "/o/r/raw/commit/" + hex(40) + "/a.c", PathClass::expensive},
        ClassRow{"GiteaBlameAtACommit", "/o/r/blame/commit/" + hex(40) + "/a.c",
                 PathClass::expensive},
        ClassRow{"GiteaRawOfABranch", "/o/r/raw/branch/main/a.c", PathClass::page},
        ClassRow{"GiteaBlameOfABranch", "/o/r/blame/branch/main/a.c", PathClass::page},
        ClassRow{"GiteaPullFiles", "/o/r/pulls/3/files", PathClass::tracker},
        ClassRow{"DashedCommit", "/o/r/-/commit/" + hex(40), PathClass::expensive},
        ClassRow{"DashedCommits", "/o/r/-/commits/main", PathClass::page},
        ClassRow{"DashedIssues", "/o/r/-/issues/1", PathClass::page},
        ClassRow{"DashedArchive", "/o/r/-/archive/main/r-main.tar.gz", PathClass::page}),
    classRowName);

struct IdLengthRow {
    std::size_t digits;
    bool commit;
    bool bogus;
};

void PrintTo(const IdLengthRow& row, std::ostream* out) {
    *out << row.digits << " digits";
}

std::string idLengthName(const testing::TestParamInfo<IdLengthRow>& info) {
    const IdLengthRow& row = info.param;
    const char* outcome = !row.commit ? "not a commit" : row.bogus ? "bogus commit" : "commit";
    return test::testName({std::to_string(row.digits), "digits", outcome});
}

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
                                         IdLengthRow{65, false, false}),
                         idLengthName);

TEST(CommitId, LaterMarkerOccurrenceCanMatch) {
    EXPECT_TRUE(isBogusCommitPath("/o/r/commit/zz/raw/" + hex(20)));
    EXPECT_FALSE(isBogusCommitPath("/o/r/commit/" + hex(40) + "/x/" + hex(20)));
}

struct SuffixRow {
    std::string segment;
    std::string stripped;
};

void PrintTo(const SuffixRow& row, std::ostream* out) {
    *out << '"' << row.segment << '"';
}

std::string suffixName(const testing::TestParamInfo<SuffixRow>& info) {
    return test::testName(info.param.segment);
}

class ArchiveSuffix : public testing::TestWithParam<SuffixRow> {};

TEST_P(ArchiveSuffix, RemovesAtMostOne) {
    EXPECT_EQ(stripArchiveSuffix(GetParam().segment), GetParam().stripped);
}

INSTANTIATE_TEST_SUITE_P(Segments, ArchiveSuffix,
                         testing::Values(SuffixRow{"a.tar.gz", "a"},
                                         SuffixRow{"a.diff.zip", "a.diff"},
                                         SuffixRow{"a.bundle", "a"}, SuffixRow{".zip", ""},
                                         SuffixRow{"a.gz", "a.gz"}, SuffixRow{"", ""}),
                         suffixName);

}  // namespace
}  // namespace vorn
