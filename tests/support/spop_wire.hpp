#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Builds the frames HAProxy sends to an SPOP agent, byte by byte, so that
// tests can send well-formed, odd and malformed input alike. Written apart
// from the daemon's own codec so that the tests do not share its mistakes.

namespace vorn::test {

// Byte strings are std::string in the tests: easy to build, join, compare and
// print.
using Bytes = std::string;

enum class FrameType : std::uint8_t {
    HaproxyHello = 1,
    HaproxyDisconnect = 2,
    Notify = 3,
    AgentHello = 101,
    AgentDisconnect = 102,
    Ack = 103,
};

// The low four bits of a typed value's type byte.
enum class ValueType : std::uint8_t {
    Null = 0,
    Bool = 1,
    Int32 = 2,
    Uint32 = 3,
    Int64 = 4,
    Uint64 = 5,
    Ipv4 = 6,
    Ipv6 = 7,
    String = 8,
    Binary = 9,
};

// HAProxy marks every unfragmented frame with the FIN bit.
inline constexpr std::uint32_t finFlag = 1;

// A size HAProxy announces with its default 16 KiB buffers.
inline constexpr std::uint32_t haproxyMaxFrameSize = 16380;

using Ipv4Bytes = std::array<std::uint8_t, 4>;
using Ipv6Bytes = std::array<std::uint8_t, 16>;

[[nodiscard]] Bytes varint(std::uint64_t value);

struct VarintRead {
    std::uint64_t value;
    std::size_t size;  // bytes the varint took
};

// Reads the varint at the start of `bytes`. Nothing when the bytes end before
// it does, when it runs past ten bytes or its value does not fit 64 bits.
[[nodiscard]] std::optional<VarintRead> readVarint(std::string_view bytes);

[[nodiscard]] Bytes bigEndian32(std::uint32_t value);

// An SPOP string: varint length, then the bytes.
[[nodiscard]] Bytes spopString(std::string_view text);

// Encoded typed values: type byte and value bytes. Signed values travel as
// their 64-bit two's complement, as HAProxy writes them.
[[nodiscard]] Bytes nullValue();
[[nodiscard]] Bytes boolValue(bool value);
[[nodiscard]] Bytes int32Value(std::int32_t value);
[[nodiscard]] Bytes uint32Value(std::uint32_t value);
[[nodiscard]] Bytes int64Value(std::int64_t value);
[[nodiscard]] Bytes uint64Value(std::uint64_t value);
[[nodiscard]] Bytes ipv4Value(const Ipv4Bytes& address);
[[nodiscard]] Bytes ipv6Value(const Ipv6Bytes& address);
[[nodiscard]] Bytes stringValue(std::string_view text);
[[nodiscard]] Bytes binaryValue(std::string_view bytes);

// One key/value item. `value` is an encoded typed value from above, or any
// bytes at all for malformed input.
struct KvItem {
    std::string key;
    Bytes value;
};

[[nodiscard]] Bytes kvList(const std::vector<KvItem>& items);

// One SPOE message of a NOTIFY. `nbArgs` overrides the argument count byte,
// so that a message can claim more or fewer arguments than it carries.
struct Message {
    std::string name;
    std::vector<KvItem> args{};
    std::optional<std::uint8_t> nbArgs{};
};

[[nodiscard]] Bytes messageList(const std::vector<Message>& messages);

// A whole frame: the length field counts everything after it.
[[nodiscard]] Bytes frame(std::uint8_t type, std::uint32_t flags, std::uint64_t streamId,
                          std::uint64_t frameId, std::string_view payload);
[[nodiscard]] Bytes frame(FrameType type, std::uint32_t flags, std::uint64_t streamId,
                          std::uint64_t frameId, std::string_view payload);

// HAPROXY-HELLO as HAProxy sends it: "supported-versions" "2.0",
// "max-frame-size", "capabilities" "pipelining", "healthcheck" true when
// asked, "engine-id". Without the usual items only "max-frame-size" and
// "healthcheck" remain.
[[nodiscard]] Bytes haproxyHello(std::uint32_t maxFrameSize = haproxyMaxFrameSize,
                                 bool healthcheck = false, bool usualItems = true);

[[nodiscard]] Bytes haproxyDisconnect(std::uint32_t statusCode = 0, std::string_view message = "");

[[nodiscard]] Bytes notify(std::uint64_t streamId, std::uint64_t frameId,
                           const std::vector<Message>& messages);

}  // namespace vorn::test
