#include "decision/path_class.hpp"

#include <array>
#include <cstddef>
#include <optional>

namespace vorn {

namespace {

constexpr std::array<std::string_view, 5> archiveSuffixes = {".tar.gz", ".zip", ".bundle", ".diff",
                                                             ".patch"};
constexpr std::array<std::string_view, 6> trackerWords = {"issues", "pulls",    "milestones",
                                                          "labels", "activity", "compare"};
constexpr std::array<std::string_view, 4> otherPrefixes = {"/assets/", "/avatar/", "/avatars/",
                                                           "/repo-avatars/"};

template <std::size_t N>
bool startsWithAny(std::string_view path, const std::array<std::string_view, N>& prefixes) {
    for (std::string_view prefix : prefixes) {
        if (path.starts_with(prefix)) return true;
    }
    return false;
}

// Where `text` first holds '/' or '?', or its size. Ids and segments are
// short: a plain loop costs less than a library search per character.
std::size_t findSlashOrQuery(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && text[at] != '/' && text[at] != '?') ++at;
    return at;
}

std::size_t findSlash(std::string_view text, std::size_t from) {
    while (from < text.size() && text[from] != '/') ++from;
    return from < text.size() ? from : std::string_view::npos;
}

bool isLowerHex(std::string_view text) {
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// What a path holds anywhere in it, query string included. Every part the
// classes look for starts with '/', so one pass over the slashes finds them
// all, overlapping occurrences included.
struct PathParts {
    bool gitproto = false;    // /info/refs, /git-upload-pack, /git-receive-pack
    bool commitList = false;  // /commits/branch/, /commits/tag/
    bool srcBranch = false;   // /src/branch/, /src/tag/
    bool feed = false;        // /rss/, /atom/
    bool commitId = false;    // a commit marker and a hex id of 7 to 64 digits
    bool bogusId = false;     // ... of 13 to 63 digits, but not 40
};

// The id after a commit marker (/commit/, /blame/, /commits/, /archive/,
// /raw/) runs to the next '/' or '?', archive suffix removed. 40 is SHA-1 and
// 64 SHA-256; lengths up to 12 are ordinary abbreviations.
void markCommitId(std::string_view afterMarker, PathParts& parts) {
    std::string_view id = stripArchiveSuffix(afterMarker.substr(0, findSlashOrQuery(afterMarker)));
    if (!isLowerHex(id)) return;
    const std::size_t n = id.size();
    if (n >= 7 && n <= 64) parts.commitId = true;
    if (n >= 13 && n <= 63 && n != 40) parts.bogusId = true;
}

// Looks at the text from one '/' on; the letter after it picks the few
// parts that can start there.
void markPartsAt(std::string_view rest, PathParts& parts) {
    auto marker = [&](std::string_view name) {
        if (rest.starts_with(name)) markCommitId(rest.substr(name.size()), parts);
    };
    switch (rest[1]) {
        case 'i':
            parts.gitproto |= rest.starts_with("/info/refs");
            break;
        case 'g':
            parts.gitproto |=
                rest.starts_with("/git-upload-pack") || rest.starts_with("/git-receive-pack");
            break;
        case 'c':
            marker("/commit/");
            marker("/commits/");
            parts.commitList |=
                rest.starts_with("/commits/branch/") || rest.starts_with("/commits/tag/");
            break;
        case 'b':
            marker("/blame/");
            break;
        case 'a':
            marker("/archive/");
            parts.feed |= rest.starts_with("/atom/");
            break;
        case 'r':
            marker("/raw/");
            parts.feed |= rest.starts_with("/rss/");
            break;
        case 's':
            parts.srcBranch |= rest.starts_with("/src/branch/") || rest.starts_with("/src/tag/");
            break;
        default:
            break;
    }
}

PathParts scanParts(std::string_view path) {
    PathParts parts;
    for (std::size_t at = findSlash(path, 0); at != std::string_view::npos && at + 1 < path.size();
         at = findSlash(path, at + 1)) {
        markPartsAt(path.substr(at), parts);
    }
    return parts;
}

// The non-empty '/'-separated pieces of the path before its query string.
class Segments {
public:
    explicit Segments(std::string_view path) : rest_(path.substr(0, path.find('?'))) {}

    std::optional<std::string_view> next() {
        while (!rest_.empty()) {
            std::size_t end = findSlash(rest_, 0);
            std::string_view piece = rest_.substr(0, end);
            rest_ = end == std::string_view::npos ? std::string_view{} : rest_.substr(end + 1);
            if (!piece.empty()) return piece;
        }
        return std::nullopt;
    }

private:
    std::string_view rest_;
};

}  // namespace

std::string_view stripArchiveSuffix(std::string_view segment) {
    for (std::string_view suffix : archiveSuffixes) {
        if (segment.ends_with(suffix)) return segment.substr(0, segment.size() - suffix.size());
    }
    return segment;
}

bool isCommitPath(std::string_view path) {
    return scanParts(path).commitId;
}

bool isBogusCommitPath(std::string_view path) {
    return scanParts(path).bogusId;
}

bool isTrackerPath(std::string_view path) {
    Segments segments(path);
    std::optional<std::string_view> third;
    for (int i = 0; i < 3; ++i) third = segments.next();
    if (!third) return false;
    for (std::string_view word : trackerWords) {
        if (*third == word) return true;
    }
    return false;
}

bool isActionsPath(std::string_view path) {
    Segments segments(path);
    std::optional<std::string_view> first = segments.next();
    std::optional<std::string_view> second = segments.next();
    if (first == "admin" && second == "actions") return true;
    while (std::optional<std::string_view> segment = segments.next()) {
        if (*segment == "actions") return true;
    }
    return false;
}

namespace {

PathClass classify(std::string_view path, const PathParts& parts) {
    if (startsWithAny(path, otherPrefixes)) return PathClass::other;
    if (parts.gitproto) return PathClass::gitproto;
    if (path.starts_with("/api/actions")) return PathClass::runner;
    if (path.starts_with("/api/")) return PathClass::api;
    if (parts.commitId) return PathClass::expensive;
    if (parts.commitList) return PathClass::commitlist;
    if (parts.srcBranch) return PathClass::srcbranch;
    if (parts.feed) return PathClass::feed;
    if (isTrackerPath(path)) return PathClass::tracker;
    if (isActionsPath(path)) return PathClass::actions;
    return PathClass::page;
}

}  // namespace

PathClass classifyPath(std::string_view path) {
    return classify(path, scanParts(path));
}

PathShape examinePath(std::string_view path) {
    PathParts parts = scanParts(path);
    return {classify(path, parts), parts.bogusId};
}

}  // namespace vorn
