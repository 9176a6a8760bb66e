#include "gate/gate_key_file.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace vorn {

KeyFileResult<PrivateKey> readGateKeyFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::unexpected("cannot read key file " + path + ": " + std::strerror(errno));
    }
    if ((status.st_mode & 077) != 0) {
        return std::unexpected("key file " + path +
                               " may be read or written by others; make it mode 0600");
    }
    return readPrivateKeyFile(path);
}

}  // namespace vorn
