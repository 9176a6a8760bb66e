#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/spop_wire.hpp"

// Reads the frames an SPOP agent sends (AGENT-HELLO, AGENT-DISCONNECT, ACK)
// strictly: anything an agent has no reason to send is an error, so that a
// test sees the daemon's encoding mistakes instead of working around them.

namespace vorn::test {

// One typed value as decoded; only the member that belongs to `type` is set.
struct DecodedValue {
    ValueType type = ValueType::Null;
    bool flag = false;         // BOOL
    std::uint64_t number = 0;  // integer types, the varint as sent
    std::string bytes;         // IPV4, IPV6, STRING, BINARY

    friend bool operator==(const DecodedValue&, const DecodedValue&) = default;
};

struct AgentFrame {
    std::uint8_t type = 0;
    std::uint32_t flags = 0;
    std::uint64_t streamId = 0;
    std::uint64_t frameId = 0;
    // ACK: the SET-VAR actions in order, and the same by name.
    std::vector<std::pair<std::string, std::string>> setVars;
    std::map<std::string, std::string> vars;
    // AGENT-HELLO and AGENT-DISCONNECT: the key/value items in order.
    std::vector<std::pair<std::string, DecodedValue>> items;

    [[nodiscard]] bool is(FrameType t) const { return type == static_cast<std::uint8_t>(t); }

    // The last item named `key`, or null.
    [[nodiscard]] const DecodedValue* item(std::string_view key) const;
    // The item's text when it is a STRING.
    [[nodiscard]] std::optional<std::string> stringItem(std::string_view key) const;
    // The item's value when it is a UINT32 or UINT64.
    [[nodiscard]] std::optional<std::uint64_t> uintItem(std::string_view key) const;
};

// The size of the frame at the start of `buffer` once all of it is there, 0
// while more bytes are needed, an error text when its length field is out of
// range (5 to 16384).
[[nodiscard]] std::expected<std::size_t, std::string> wholeFrameSize(std::string_view buffer);

// Decodes `bytes`, which must be exactly one agent frame. The error text says
// what was wrong and where.
[[nodiscard]] std::expected<AgentFrame, std::string> parseAgentFrame(std::string_view bytes);

// As parseAgentFrame, but an error becomes a test failure showing the bytes.
[[nodiscard]] std::optional<AgentFrame> decodeAgentFrame(std::string_view bytes);

}  // namespace vorn::test
