#include "support/free_tcp_port.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorn::test {

std::uint16_t freeTcpPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ADD_FAILURE() << "socket: " << std::strerror(errno);
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if (bind(fd, generic, size) != 0 || getsockname(fd, generic, &size) != 0) {
        ADD_FAILURE() << "binding 127.0.0.1:0: " << std::strerror(errno);
        close(fd);
        return 0;
    }
    close(fd);
    return ntohs(address.sin_port);
}

}  // namespace vorn::test
