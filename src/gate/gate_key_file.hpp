#pragma once

#include <string>

#include "token/private_key_file.hpp"

namespace vorn {

// Reads the gate's private key file, refusing one that anybody but its owner
// may read or write: it signs every pass the site hands out.
[[nodiscard]] KeyFileResult<PrivateKey> readGateKeyFile(const std::string& path);

}  // namespace vorn
