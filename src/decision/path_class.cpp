#include "decision/path_class.hpp"

#include <array>
#include <cstddef>
#include <optional>

namespace vorn {

namespace {

constexpr std::array<std::string_view, 5> commitMarkers = {"/commit/", "/blame/", "/commits/",
                                                           "/archive/", "/raw/"};
constexpr std::array<std::string_view, 5> archiveSuffixes = {".tar.gz", ".zip", ".bundle", ".diff",
                                                             ".patch"};
constexpr std::array<std::string_view, 6> trackerWords = {"issues", "pulls",    "milestones",
                                                          "labels", "activity", "compare"};
constexpr std::array<std::string_view, 4> otherPrefixes = {"/assets/", "/avatar/", "/avatars/",
                                                           "/repo-avatars/"};
constexpr std::array<std::string_view, 3> gitprotoParts = {"/info/refs", "/git-upload-pack",
                                                           "/git-receive-pack"};

template <std::size_t N>
bool startsWithAny(std::string_view path, const std::array<std::string_view, N>& prefixes) {
    for (std::string_view prefix : prefixes) {
        if (path.starts_with(prefix)) return true;
    }
    return false;
}

template <std::size_t N>
bool containsAny(std::string_view path, const std::array<std::string_view, N>& parts) {
    for (std::string_view part : parts) {
        if (path.contains(part)) return true;
    }
    return false;
}

bool isLowerHex(std::string_view text) {
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// Whether some marker occurrence is followed by a hexadecimal id whose length
// (archive suffix removed) `lengthFits` accepts. Overlapping occurrences are
// all tried.
bool hasCommitId(std::string_view path, bool (*lengthFits)(std::size_t)) {
    for (std::string_view marker : commitMarkers) {
        for (std::size_t at = path.find(marker); at != std::string_view::npos;
             at = path.find(marker, at + 1)) {
            std::string_view rest = path.substr(at + marker.size());
            std::string_view id = stripArchiveSuffix(rest.substr(0, rest.find_first_of("/?")));
            if (lengthFits(id.size()) && isLowerHex(id)) return true;
        }
    }
    return false;
}

// The non-empty '/'-separated pieces of the path before its query string.
class Segments {
public:
    explicit Segments(std::string_view path) : rest_(path.substr(0, path.find('?'))) {}

    std::optional<std::string_view> next() {
        while (!rest_.empty()) {
            std::size_t end = rest_.find('/');
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
    return hasCommitId(path, [](std::size_t n) { return n >= 7 && n <= 64; });
}

bool isBogusCommitPath(std::string_view path) {
    // 40 is SHA-1 and 64 SHA-256; lengths up to 12 are ordinary abbreviations.
    return hasCommitId(path, [](std::size_t n) { return n >= 13 && n <= 63 && n != 40; });
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

PathClass classifyPath(std::string_view path) {
    if (startsWithAny(path, otherPrefixes)) return PathClass::other;
    if (containsAny(path, gitprotoParts)) return PathClass::gitproto;
    if (path.starts_with("/api/actions")) return PathClass::runner;
    if (path.starts_with("/api/")) return PathClass::api;
    if (isCommitPath(path)) return PathClass::expensive;
    if (path.contains("/commits/branch/") || path.contains("/commits/tag/")) {
        return PathClass::commitlist;
    }
    if (path.contains("/src/branch/") || path.contains("/src/tag/")) return PathClass::srcbranch;
    if (path.contains("/rss/") || path.contains("/atom/")) return PathClass::feed;
    if (isTrackerPath(path)) return PathClass::tracker;
    if (isActionsPath(path)) return PathClass::actions;
    return PathClass::page;
}

}  // namespace vorn
