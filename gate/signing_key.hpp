#pragma once

#include <string>

#include "token/private_key_file.hpp"

namespace vorn::gate {

// Reads the gate's private key file, refusing one that anybody but its owner
// may read or write: it signs every pass the site hands out.
[[nodiscard]] KeyFileResult<PrivateKey> readGateKey(const std::string& path);

}  // namespace vorn::gate
