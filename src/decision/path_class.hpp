#pragma once

#include <string_view>

#include "common/path_class.hpp"

namespace vorn {

// Path tests on the raw request path, query string included. All of them are
// byte-exact, case-sensitive, total and allocation-free.

// The class that counters, rolling statistics and rules key on.
[[nodiscard]] PathClass classifyPath(std::string_view path);

// The class and the bogus-commit test together, from one scan of the path.
struct PathShape {
    PathClass pathClass;
    bool bogusCommit;
};
[[nodiscard]] PathShape examinePath(std::string_view path);

// A commit marker followed by a lower-case hexadecimal id of 7 to 64 digits.
[[nodiscard]] bool isCommitPath(std::string_view path);

// The same with an id no Git object name has: 13 to 63 digits, but not 40.
[[nodiscard]] bool isBogusCommitPath(std::string_view path);

// Segment 3 is an issue, pull, milestone, label, activity or compare page.
[[nodiscard]] bool isTrackerPath(std::string_view path);

// An "actions" segment below a repository, or /admin/actions.
[[nodiscard]] bool isActionsPath(std::string_view path);

// The segment without the first archive suffix it ends with, if any.
[[nodiscard]] std::string_view stripArchiveSuffix(std::string_view segment);

}  // namespace vorn
