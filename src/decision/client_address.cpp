#include "decision/client_address.hpp"

#include <charconv>

#include "common/wyhash.hpp"

namespace vorn {

namespace {

// Writes `count` numbers from `next` in `base`, separated by `separator`.
// The capacity holds the longest result, so the conversions cannot fail.
template <typename Next>
std::string_view formatGroups(int count, int base, char separator, Next next,
                              std::span<char, ipTextCapacity> out) {
    char* cursor = out.data();
    char* const end = out.data() + out.size();
    for (int i = 0; i < count; ++i) {
        if (i > 0) *cursor++ = separator;
        cursor = std::to_chars(cursor, end, next(i), base).ptr;
    }
    return {out.data(), static_cast<std::size_t>(cursor - out.data())};
}

}  // namespace

std::string_view formatIpv4(std::span<const std::byte, 4> address,
                            std::span<char, ipTextCapacity> out) {
    auto octet = [address](int i) { return std::to_integer<unsigned>(address[i]); };
    return formatGroups(4, 10, '.', octet, out);
}

std::string_view formatIpv6(std::span<const std::byte, 16> address,
                            std::span<char, ipTextCapacity> out) {
    auto group = [address](int i) {
        return std::to_integer<unsigned>(address[2 * i]) << 8 |
               std::to_integer<unsigned>(address[2 * i + 1]);
    };
    return formatGroups(8, 16, ':', group, out);
}

std::uint64_t ipHash(std::string_view ip) {
    return ip.empty() ? 0 : wyhash(ip, 0);
}

}  // namespace vorn
