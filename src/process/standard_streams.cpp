#include "process/standard_streams.hpp"

#include <fcntl.h>

#include <cerrno>

namespace vorn {

std::expected<void, Error> openMissingStandardStreams() {
    constexpr int standardStreams = 3;
    for (int fd = 0; fd < standardStreams; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is `fd`: the ones below it are open.
        if (open("/dev/null", O_RDWR) < 0) return std::unexpected(fileSystemError(errno));
    }
    return {};
}

}  // namespace vorn
