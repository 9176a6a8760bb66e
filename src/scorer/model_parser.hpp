#pragma once

#include <expected>
#include <string_view>

#include "common/error.hpp"
#include "scorer/scorer_model.hpp"

namespace vorn {

// Reads a model document: a JSON object with "feature_names" (strings) and
// "mean", "scale", "coef" (numbers), all of one length n (0 allowed), and the
// number "intercept"; other members are ignored. Every model number is
// written with a fraction or an exponent (0.0, 1e-3) and is finite.
// Refusals: BadJson (not JSON), DuplicateKey (a key twice in any object),
// BadType (no object root, or a member of another JSON type), MissingMember,
// BadNumber (an integer spelling or a non-finite value), LengthMismatch, and
// OutOfMemory. For loading only: it allocates.
[[nodiscard]] std::expected<ScorerModel, Error> parseModel(std::string_view json);

}  // namespace vorn
