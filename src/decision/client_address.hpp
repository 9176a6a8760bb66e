#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vorn {

// Room for the longest address text these formatters write (39 bytes).
inline constexpr std::size_t ipTextCapacity = 64;

// Dotted decimal of four address bytes in network order ("192.0.2.1"); the
// result views `out`.
[[nodiscard]] std::string_view formatIpv4(std::span<const std::byte, 4> address,
                                          std::span<char, ipTextCapacity> out);

// Eight lower-case hexadecimal groups without leading zeros, joined by ':',
// zero runs written out ("0:0:0:0:0:0:0:1"); the result views `out`.
[[nodiscard]] std::string_view formatIpv6(std::span<const std::byte, 16> address,
                                          std::span<char, ipTextCapacity> out);

// The key of distinct-address sets and receipt address limits: Wyhash with
// seed 0 of the address text, 0 for no address.
[[nodiscard]] std::uint64_t ipHash(std::string_view ip);

}  // namespace vorn
