#include "common/whole_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>

namespace vorn {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

// Reads until end of file; one byte past the limit is enough to know the
// file is too big, whatever fstat said (the file may grow meanwhile).
std::expected<void, Error> readAll(int fd, std::size_t limit, std::string& text) {
    std::size_t filled = 0;
    for (;;) {
        if (filled == text.size()) text.resize(std::min(filled + 4096, limit + 1));
        ssize_t n = ::read(fd, text.data() + filled, text.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::unexpected(fileSystemError(errno));
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
        if (filled > limit) return std::unexpected(Error::FileTooBig);
    }
    text.resize(filled);
    return {};
}

}  // namespace

std::expected<std::string, Error> readWholeFile(std::string_view path, std::size_t limit) {
    try {
        Descriptor file(::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC));
        if (file.get() < 0) return std::unexpected(fileSystemError(errno));
        struct stat status {};
        if (::fstat(file.get(), &status) != 0) return std::unexpected(fileSystemError(errno));
        if (S_ISDIR(status.st_mode)) return std::unexpected(Error::IsDir);
        if (status.st_size > 0 && static_cast<std::uint64_t>(status.st_size) > limit) {
            return std::unexpected(Error::FileTooBig);
        }
        std::string text;
        text.reserve(status.st_size > 0 ? static_cast<std::size_t>(status.st_size) : 0);
        if (auto read = readAll(file.get(), limit, text); !read) {
            return std::unexpected(read.error());
        }
        return text;
    } catch (const std::bad_alloc&) {
        return std::unexpected(Error::OutOfMemory);
    }
}

}  // namespace vorn
