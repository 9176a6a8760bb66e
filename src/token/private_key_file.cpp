#include "token/private_key_file.hpp"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/whole_file.hpp"
#include "token/base64url.hpp"
#include "token/key_id.hpp"

namespace vorn {

namespace {

constexpr std::size_t privateKeyFileLimit = 4096;

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string_view trimLine(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

KeyFileResult<void> writePrivateKeyFile(const std::string& path, const PrivateKey& key) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EEXIST) return std::unexpected(path + " exists; not overwriting it");
    if (fd < 0) return std::unexpected("cannot create " + path + ": " + std::strerror(errno));
    // The umask may only have removed bits; set exactly owner read and write.
    std::string line = key.kid + " " + base64UrlText(key.seed) + "\n";
    const bool written = ::fchmod(fd, 0600) == 0 && writeAll(fd, line);
    const bool closed = ::close(fd) == 0;
    sodium_memzero(line.data(), line.size());
    if (!written || !closed) return std::unexpected("cannot write " + path);
    return {};
}

KeyFileResult<PrivateKey> readPrivateKeyFile(const std::string& path) {
    auto text = readWholeFile(path, privateKeyFileLimit);
    if (!text) {
        return std::unexpected("cannot read key file " + path + ": " +
                               std::string(errorName(text.error())));
    }
    std::string_view line = trimLine(*text);
    const std::size_t space = line.find(' ');
    PrivateKey key;
    std::string_view kid = line.substr(0, space);
    std::string_view seed = space == std::string_view::npos ? "" : line.substr(space + 1);
    auto decoded = decodeBase64Url(seed, key.seed);
    const bool valid = isKeyId(kid) && decoded && *decoded == key.seed.size();
    if (valid) key.kid = kid;
    sodium_memzero(text->data(), text->size());
    if (!valid) return std::unexpected("key file " + path + " is not one line \"KID SEED\"");
    return key;
}

}  // namespace vorn
