#include "support/agent_frame.hpp"

#include <gtest/gtest.h>

#include "support/hex.hpp"

namespace vorn::test {

namespace {

constexpr std::uint32_t minFrameLength = 5;
constexpr std::uint32_t maxFrameLength = 16384;
constexpr std::uint8_t setVarAction = 1;
constexpr std::uint8_t setVarArgCount = 3;
constexpr std::uint8_t transactionScope = 2;

using Failure = std::unexpected<std::string>;

std::uint32_t readBigEndian32(std::string_view bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<std::uint8_t>(bytes[i]);
    return value;
}

// Walks the bytes of one frame, naming the offset of whatever goes wrong.
class Reader {
public:
    explicit Reader(std::string_view bytes, std::size_t position)
        : bytes_(bytes), position_(position) {}

    [[nodiscard]] bool atEnd() const { return position_ == bytes_.size(); }

    std::expected<std::uint8_t, std::string> byte(std::string_view what) {
        if (atEnd()) return fail(what, "missing");
        return static_cast<std::uint8_t>(bytes_[position_++]);
    }

    std::expected<std::uint64_t, std::string> varint(std::string_view what) {
        auto read = readVarint(bytes_.substr(position_));
        if (!read) return fail(what, "truncated or wider than 64 bits");
        position_ += read->size;
        return read->value;
    }

    std::expected<std::string, std::string> bytes(std::size_t count, std::string_view what) {
        if (bytes_.size() - position_ < count) return fail(what, "truncated");
        std::string out(bytes_.substr(position_, count));
        position_ += count;
        return out;
    }

    std::expected<std::string, std::string> string(std::string_view what) {
        auto length = varint(what);
        if (!length) return Failure(length.error());
        return bytes(*length, what);
    }

    Failure fail(std::string_view what, std::string_view problem) const {
        return Failure(std::string(what) + " " + std::string(problem) + " at offset " +
                       std::to_string(position_));
    }

private:
    std::string_view bytes_;
    std::size_t position_;
};

std::expected<DecodedValue, std::string> readTypedValue(Reader& reader, std::string_view key) {
    std::string what = "value of " + std::string(key);
    auto typeByte = reader.byte(what);
    if (!typeByte) return Failure(typeByte.error());
    auto code = static_cast<std::uint8_t>(*typeByte & 0x0F);
    auto flags = static_cast<std::uint8_t>(*typeByte & 0xF0);
    auto type = static_cast<ValueType>(code);
    if (code > static_cast<std::uint8_t>(ValueType::Binary)) return reader.fail(what, "bad type");
    if (flags != 0 && !(type == ValueType::Bool && flags == 0x10)) {
        return reader.fail(what, "has type flags");
    }
    DecodedValue value{.type = type, .flag = flags != 0, .number = 0, .bytes = {}};
    switch (type) {
        case ValueType::Null:
        case ValueType::Bool:
            return value;
        case ValueType::Int32:
        case ValueType::Uint32:
        case ValueType::Int64:
        case ValueType::Uint64: {
            auto number = reader.varint(what);
            if (!number) return Failure(number.error());
            value.number = *number;
            return value;
        }
        case ValueType::Ipv4:
        case ValueType::Ipv6: {
            auto address = reader.bytes(type == ValueType::Ipv4 ? 4 : 16, what);
            if (!address) return Failure(address.error());
            value.bytes = std::move(*address);
            return value;
        }
        case ValueType::String:
        case ValueType::Binary: {
            auto text = reader.string(what);
            if (!text) return Failure(text.error());
            value.bytes = std::move(*text);
            return value;
        }
    }
    return reader.fail(what, "bad type");
}

std::expected<void, std::string> readItems(Reader& reader, AgentFrame& frame) {
    while (!reader.atEnd()) {
        auto key = reader.string("item key");
        if (!key) return Failure(key.error());
        auto value = readTypedValue(reader, *key);
        if (!value) return Failure(value.error());
        frame.items.emplace_back(std::move(*key), std::move(*value));
    }
    return {};
}

std::expected<void, std::string> expectByte(Reader& reader, std::string_view what,
                                            std::uint8_t expected) {
    auto got = reader.byte(what);
    if (!got) return Failure(got.error());
    if (*got != expected) {
        return reader.fail(what,
                           "is " + std::to_string(*got) + ", not " + std::to_string(expected));
    }
    return {};
}

std::expected<void, std::string> readSetVar(Reader& reader, AgentFrame& frame) {
    if (auto ok = expectByte(reader, "action type", setVarAction); !ok) return ok;
    if (auto ok = expectByte(reader, "SET-VAR nb-args", setVarArgCount); !ok) return ok;
    if (auto ok = expectByte(reader, "SET-VAR scope", transactionScope); !ok) return ok;
    auto name = reader.string("variable name");
    if (!name) return Failure(name.error());
    std::string what = "value of " + *name;
    if (auto ok = expectByte(reader, what + " type", static_cast<std::uint8_t>(ValueType::String));
        !ok) {
        return ok;
    }
    auto value = reader.string(what);
    if (!value) return Failure(value.error());
    if (!frame.vars.emplace(*name, *value).second) return reader.fail(*name, "set twice");
    frame.setVars.emplace_back(std::move(*name), std::move(*value));
    return {};
}

std::expected<void, std::string> readActions(Reader& reader, AgentFrame& frame) {
    while (!reader.atEnd()) {
        if (auto ok = readSetVar(reader, frame); !ok) return ok;
    }
    return {};
}

std::expected<void, std::string> readPayload(Reader& reader, AgentFrame& frame) {
    if (frame.is(FrameType::Ack)) return readActions(reader, frame);
    if (frame.streamId != 0 || frame.frameId != 0) {
        return Failure("stream-id and frame-id of a HELLO or DISCONNECT are not 0");
    }
    return readItems(reader, frame);
}

bool isAgentType(std::uint8_t type) {
    return type == static_cast<std::uint8_t>(FrameType::AgentHello) ||
           type == static_cast<std::uint8_t>(FrameType::AgentDisconnect) ||
           type == static_cast<std::uint8_t>(FrameType::Ack);
}

}  // namespace

const DecodedValue* AgentFrame::item(std::string_view key) const {
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        if (it->first == key) return &it->second;
    }
    return nullptr;
}

std::optional<std::string> AgentFrame::stringItem(std::string_view key) const {
    const auto* value = item(key);
    if (value == nullptr || value->type != ValueType::String) return std::nullopt;
    return value->bytes;
}

std::optional<std::uint64_t> AgentFrame::uintItem(std::string_view key) const {
    const auto* value = item(key);
    if (value == nullptr) return std::nullopt;
    if (value->type != ValueType::Uint32 && value->type != ValueType::Uint64) return std::nullopt;
    return value->number;
}

std::expected<std::size_t, std::string> wholeFrameSize(std::string_view buffer) {
    if (buffer.size() < 4) return 0;
    auto length = readBigEndian32(buffer);
    if (length < minFrameLength || length > maxFrameLength) {
        return Failure("frame length " + std::to_string(length) + " out of range");
    }
    std::size_t size = std::size_t{length} + 4;
    return buffer.size() < size ? 0 : size;
}

std::expected<AgentFrame, std::string> parseAgentFrame(std::string_view bytes) {
    auto size = wholeFrameSize(bytes);
    if (!size) return Failure(size.error());
    if (*size == 0) return Failure("incomplete frame");
    if (*size != bytes.size()) return Failure("bytes after the frame");
    AgentFrame frame;
    frame.type = static_cast<std::uint8_t>(bytes[4]);
    if (!isAgentType(frame.type)) return Failure("type " + std::to_string(frame.type));
    frame.flags = readBigEndian32(bytes.substr(5));
    if (frame.flags != finFlag) return Failure("flags " + std::to_string(frame.flags));
    Reader reader(bytes, 9);
    auto streamId = reader.varint("stream-id");
    if (!streamId) return Failure(streamId.error());
    auto frameId = reader.varint("frame-id");
    if (!frameId) return Failure(frameId.error());
    frame.streamId = *streamId;
    frame.frameId = *frameId;
    if (auto ok = readPayload(reader, frame); !ok) return Failure(ok.error());
    return frame;
}

std::optional<AgentFrame> decodeAgentFrame(std::string_view bytes) {
    auto frame = parseAgentFrame(bytes);
    if (!frame) {
        ADD_FAILURE() << "bad agent frame: " << frame.error() << "\n  bytes: " << toHex(bytes);
        return std::nullopt;
    }
    return std::move(*frame);
}

}  // namespace vorn::test
