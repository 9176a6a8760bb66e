#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "scorer/scorer_model.hpp"

namespace vorn {

// Model files larger than this are refused before parsing.
inline constexpr std::size_t modelFileLimit = 4 * 1024 * 1024;

// (Re)loads the shadow model from `path`: installs it in `current`, or
// empties `current` when the file is missing, too big, unreadable or not a
// model, so that a broken reload stops scoring rather than keeping a model
// the operator meant to replace. Logs one info line prefixed with `context`
// ("start" or "SIGHUP"). Never fails. Loop thread, not the request path.
void loadModel(std::string_view context, std::string_view path,
               std::optional<ScorerModel>& current);

}  // namespace vorn
