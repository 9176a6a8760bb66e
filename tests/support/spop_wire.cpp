#include "support/spop_wire.hpp"

#include <limits>

namespace vorn::test {

namespace {

// Wide enough to see a varint overflow 64 bits.
__extension__ using WideUnsigned = unsigned __int128;

// The type byte, then the value bytes.
Bytes typed(ValueType type, std::string_view value = {}, std::uint8_t flags = 0) {
    Bytes out(1, static_cast<char>(static_cast<std::uint8_t>(type) | flags));
    out.append(value);
    return out;
}

template <std::size_t N>
Bytes typedAddress(ValueType type, const std::array<std::uint8_t, N>& address) {
    Bytes out(1, static_cast<char>(type));
    out.append(address.begin(), address.end());
    return out;
}

}  // namespace

Bytes varint(std::uint64_t value) {
    Bytes out;
    if (value < 240) {
        out.push_back(static_cast<char>(value));
        return out;
    }
    out.push_back(static_cast<char>(value | 0xF0));
    value = (value - 240) >> 4;
    while (value >= 128) {
        out.push_back(static_cast<char>(value | 0x80));
        value = (value - 128) >> 7;
    }
    out.push_back(static_cast<char>(value));
    return out;
}

std::optional<VarintRead> readVarint(std::string_view bytes) {
    // Ten bytes carry 4 + 9 * 7 = 67 bits, enough for any 64-bit value.
    constexpr std::size_t maxBytes = 10;
    if (bytes.empty()) return std::nullopt;
    auto first = static_cast<std::uint8_t>(bytes[0]);
    if (first < 240) return VarintRead{first, 1};
    WideUnsigned value = first;
    unsigned shift = 4;
    for (std::size_t i = 1; i < bytes.size() && i < maxBytes; ++i) {
        auto b = static_cast<std::uint8_t>(bytes[i]);
        value += static_cast<WideUnsigned>(b) << shift;
        if (value > std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
        if (b < 128) return VarintRead{static_cast<std::uint64_t>(value), i + 1};
        shift += 7;
    }
    return std::nullopt;
}

Bytes bigEndian32(std::uint32_t value) {
    Bytes out(4, '\0');
    for (int i = 3; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xFF);
        value >>= 8;
    }
    return out;
}

Bytes spopString(std::string_view text) {
    return varint(text.size()) + Bytes(text);
}

Bytes nullValue() {
    return typed(ValueType::Null);
}

Bytes boolValue(bool value) {
    return typed(ValueType::Bool, {}, value ? 0x10 : 0x00);
}

Bytes int32Value(std::int32_t value) {
    return typed(ValueType::Int32, varint(static_cast<std::uint64_t>(std::int64_t{value})));
}

Bytes uint32Value(std::uint32_t value) {
    return typed(ValueType::Uint32, varint(value));
}

Bytes int64Value(std::int64_t value) {
    return typed(ValueType::Int64, varint(static_cast<std::uint64_t>(value)));
}

Bytes uint64Value(std::uint64_t value) {
    return typed(ValueType::Uint64, varint(value));
}

Bytes ipv4Value(const Ipv4Bytes& address) {
    return typedAddress(ValueType::Ipv4, address);
}

Bytes ipv6Value(const Ipv6Bytes& address) {
    return typedAddress(ValueType::Ipv6, address);
}

Bytes stringValue(std::string_view text) {
    return typed(ValueType::String, spopString(text));
}

Bytes binaryValue(std::string_view bytes) {
    return typed(ValueType::Binary, spopString(bytes));
}

Bytes kvList(const std::vector<KvItem>& items) {
    Bytes out;
    for (const auto& item : items) out += spopString(item.key) + item.value;
    return out;
}

Bytes messageList(const std::vector<Message>& messages) {
    Bytes out;
    for (const auto& message : messages) {
        auto count = message.nbArgs.value_or(static_cast<std::uint8_t>(message.args.size()));
        out += spopString(message.name);
        out.push_back(static_cast<char>(count));
        out += kvList(message.args);
    }
    return out;
}

Bytes frame(std::uint8_t type, std::uint32_t flags, std::uint64_t streamId, std::uint64_t frameId,
            std::string_view payload) {
    Bytes body(1, static_cast<char>(type));
    body += bigEndian32(flags) + varint(streamId) + varint(frameId) + Bytes(payload);
    return bigEndian32(static_cast<std::uint32_t>(body.size())) + body;
}

Bytes frame(FrameType type, std::uint32_t flags, std::uint64_t streamId, std::uint64_t frameId,
            std::string_view payload) {
    return frame(static_cast<std::uint8_t>(type), flags, streamId, frameId, payload);
}

Bytes haproxyHello(std::uint32_t maxFrameSize, bool healthcheck, bool usualItems) {
    std::vector<KvItem> items;
    if (usualItems) items.push_back({"supported-versions", stringValue("2.0")});
    items.push_back({"max-frame-size", uint32Value(maxFrameSize)});
    if (usualItems) items.push_back({"capabilities", stringValue("pipelining")});
    if (healthcheck) items.push_back({"healthcheck", boolValue(true)});
    if (usualItems) {
        items.push_back({"engine-id", stringValue("3F2504E0-4F89-11D3-9A0C-0305E82C3301")});
    }
    return frame(FrameType::HaproxyHello, finFlag, 0, 0, kvList(items));
}

Bytes haproxyDisconnect(std::uint32_t statusCode, std::string_view message) {
    auto items =
        kvList({{"status-code", uint32Value(statusCode)}, {"message", stringValue(message)}});
    return frame(FrameType::HaproxyDisconnect, finFlag, 0, 0, items);
}

Bytes notify(std::uint64_t streamId, std::uint64_t frameId, const std::vector<Message>& messages) {
    return frame(FrameType::Notify, finFlag, streamId, frameId, messageList(messages));
}

}  // namespace vorn::test
