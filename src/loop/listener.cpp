#include "loop/listener.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "common/socket_address.hpp"

namespace vorn {

namespace {

constexpr int metricsBacklog = 32;

Error socketCreationError(int error) {
    return error == EACCES || error == EPERM ? Error::AccessDenied : Error::SocketError;
}

Error bindError(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return Error::AccessDenied;
        case ENAMETOOLONG:
            return Error::NameTooLong;
        case EADDRINUSE:
            return Error::AddressInUse;
        default:
            return Error::SocketError;
    }
}

sockaddr_un unixAddress(const char* path, std::size_t length) {
    sockaddr_un address{};
#if defined(__FreeBSD__) || defined(__APPLE__)
    address.sun_len = sizeof(address);
#endif
    address.sun_family = AF_UNIX;
    for (std::size_t i = 0; i < length; ++i) address.sun_path[i] = path[i];
    return address;
}

bool bindTo(int fd, const sockaddr_un& address) {
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

// What a connection attempt from a datagram socket says about the stream
// socket file at the path: a live listener refuses the other socket type and
// never sees a connection; a file nobody holds refuses the connection.
enum class ProbeAnswer : std::uint8_t { live, stale, vanished };

std::expected<ProbeAnswer, Error> probeHolder(const sockaddr_un& address) {
    int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe < 0) return std::unexpected(socketCreationError(errno));
    int result = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    int error = result == 0 ? 0 : errno;
    ::close(probe);
    switch (error) {
        case 0:
        case EAGAIN:
        case EPROTOTYPE:
        case ENOBUFS:
            return ProbeAnswer::live;
        case ECONNREFUSED:
            return ProbeAnswer::stale;
        case ENOENT:
            return ProbeAnswer::vanished;
        case EACCES:
        case EPERM:
            return std::unexpected(Error::AccessDenied);
        default:
            return std::unexpected(Error::SocketError);
    }
}

// The path exists and bind said it is in use: take it over if it is a socket
// file that no process listens on, then bind again.
std::expected<void, Error> probeStaleSocket(int fd, const sockaddr_un& address, const char* path) {
    struct stat before {};
    bool present = ::lstat(path, &before) == 0;
    if (!present && errno != ENOENT) return std::unexpected(fileSystemError(errno));
    if (present) {
        if (!S_ISSOCK(before.st_mode)) return std::unexpected(Error::PathNotASocket);
        auto answer = probeHolder(address);
        if (!answer) return std::unexpected(answer.error());
        if (*answer == ProbeAnswer::live) return std::unexpected(Error::AddressInUse);
        if (*answer == ProbeAnswer::stale) {
            struct stat now {};
            if (::lstat(path, &now) == 0) {
                if (now.st_dev != before.st_dev || now.st_ino != before.st_ino) {
                    return std::unexpected(Error::AddressInUse);
                }
                if (::unlink(path) != 0 && errno != ENOENT) {
                    return std::unexpected(socketCreationError(errno));
                }
            } else if (errno != ENOENT) {
                return std::unexpected(fileSystemError(errno));
            }
        }
    }
    if (!bindTo(fd, address)) return std::unexpected(bindError(errno));
    return {};
}

std::expected<void, Error> recordSocketFile(SocketFile& file, std::string_view path) {
    path.copy(file.path.data(), path.size());
    file.path[path.size()] = '\0';
    struct stat status {};
    if (::lstat(file.path.data(), &status) != 0 || !S_ISSOCK(status.st_mode)) {
        return std::unexpected(Error::SocketError);
    }
    file.length = path.size();
    file.device = static_cast<std::uint64_t>(status.st_dev);
    file.inode = static_cast<std::uint64_t>(status.st_ino);
    file.owner = ::getpid();
    return {};
}

std::expected<void, Error> makeGroupWritable(const char* path) {
    int result = 0;
    do {
        result = ::fchmodat(AT_FDCWD, path, 0660, AT_SYMLINK_NOFOLLOW);
    } while (result != 0 && errno == EINTR);
    if (result != 0) return std::unexpected(socketCreationError(errno));
    return {};
}

std::expected<void, Error> bindSpop(int fd, std::string_view path, SocketFile& file) {
    if (path.size() >= sizeof(sockaddr_un{}.sun_path) || path.size() >= file.path.size()) {
        return std::unexpected(Error::NameTooLong);
    }
    std::array<char, 104> cpath{};
    path.copy(cpath.data(), path.size());
    sockaddr_un address = unixAddress(cpath.data(), path.size());
    if (!bindTo(fd, address)) {
        int error = errno;
        if (error != EADDRINUSE) return std::unexpected(bindError(error));
        if (auto taken = probeStaleSocket(fd, address, cpath.data()); !taken) return taken;
    }
    if (auto recorded = recordSocketFile(file, path); !recorded) return recorded;
    auto mode = makeGroupWritable(file.path.data());
    if (mode && ::listen(fd, INT_MAX) != 0) mode = std::unexpected(Error::SocketError);
    if (!mode) cleanUpSocketFile(file);
    return mode;
}

}  // namespace

std::expected<void, Error> openSpopListener(Listener& listener, std::string_view path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::unexpected(socketCreationError(errno));
    auto bound = bindSpop(fd, path, listener.socketFile);
    if (!bound) {
        ::close(fd);
        return bound;
    }
    listener.fd = fd;
    return {};
}

std::expected<void, Error> openMetricsListener(Listener& listener, std::string_view text) {
    auto address = parseSocketAddress(text);
    if (!address || (address->family != AF_INET && address->family != AF_INET6)) {
        return std::unexpected(Error::SocketError);
    }
    int fd = ::socket(address->family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return std::unexpected(socketCreationError(errno));
    int one = 1;
    bool configured = ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) == 0 &&
                      (address->family != AF_INET6 ||
                       ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof(one)) == 0);
    Error error = Error::SocketError;
    if (configured) {
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address->storage), address->length) !=
            0) {
            error = errno == EADDRINUSE ? Error::AddressInUse : socketCreationError(errno);
        } else if (::listen(fd, metricsBacklog) != 0) {
            error = errno == EADDRINUSE ? Error::AddressInUse : Error::SocketError;
        } else {
            listener.fd = fd;
            return {};
        }
    }
    ::close(fd);
    return std::unexpected(error);
}

void cleanUpSocketFile(SocketFile& file) {
    if (file.length == 0) return;
    struct stat status {};
    if (::getpid() == file.owner && ::lstat(file.path.data(), &status) == 0 &&
        S_ISSOCK(status.st_mode) && static_cast<std::uint64_t>(status.st_dev) == file.device &&
        static_cast<std::uint64_t>(status.st_ino) == file.inode) {
        ::unlink(file.path.data());
    }
    file.length = 0;
}

void closeListener(Listener& listener, kev::Kqueue& queue) {
    cleanUpSocketFile(listener.socketFile);
    if (listener.fd >= 0) queue.closeDescriptor(listener.fd);
    listener.fd = -1;
}

}  // namespace vorn
