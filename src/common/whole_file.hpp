#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "common/error.hpp"

namespace vorn {

// Reads the whole regular file at `path` (relative to the working
// directory), refusing one larger than `limit` bytes with FileTooBig.
// Failures carry the file-system error's name (FileNotFound, AccessDenied,
// IsDir, ...); OutOfMemory when the text cannot be held. Not for the request
// path: it allocates.
[[nodiscard]] std::expected<std::string, Error> readWholeFile(std::string_view path,
                                                              std::size_t limit);

}  // namespace vorn
