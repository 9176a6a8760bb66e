#include "decision/agent_message.hpp"

#include <limits>

#include "decision/header_block.hpp"
#include "spop/codec/kv_reader.hpp"

namespace vorn {

namespace {

constexpr std::uint64_t backlogCeiling = std::numeric_limits<std::uint32_t>::max();

struct Message {
    std::string_view name;
    std::size_t argumentsStart;
    std::size_t argumentCount;
};

// Reads `count` arguments from `start`; returns the offset after them.
template <typename Visit>
std::expected<std::size_t, Error> walkArguments(std::span<const std::byte> payload,
                                                std::size_t start, std::size_t count, Visit visit) {
    KvReader reader(payload, start);
    KvItem item;
    for (std::size_t i = 0; i < count; ++i) {
        auto read = reader.next(item);
        if (!read) return std::unexpected(read.error());
        if (!*read) return std::unexpected(Error::Truncated);
        visit(item);
    }
    return reader.position();
}

std::expected<Message, Error> readMessageHead(std::span<const std::byte> payload,
                                              std::size_t offset) {
    auto name = readString(payload.subspan(offset));
    if (!name) return std::unexpected(name.error());
    std::size_t countAt = offset + name->size;
    if (countAt >= payload.size()) return std::unexpected(Error::Truncated);
    return Message{asText(name->value), countAt + 1, static_cast<std::size_t>(payload[countAt])};
}

void readBacklog(const TypedValue& value, RequestFacts& facts) {
    if (value.tag == ValueTag::signedInt) {
        std::int64_t n = value.signedInteger();
        facts.backlog = static_cast<std::uint32_t>(
            n < 0 ? 0 : std::min<std::uint64_t>(static_cast<std::uint64_t>(n), backlogCeiling));
    } else if (value.tag == ValueTag::unsignedInt) {
        facts.backlog = static_cast<std::uint32_t>(std::min(value.integer, backlogCeiling));
    } else {
        facts.backlog.reset();
    }
}

std::string_view readIp(const TypedValue& value, std::span<char, ipTextCapacity> ipText) {
    switch (value.tag) {
        case ValueTag::string:
            return value.text();
        case ValueTag::ipv4:
            return formatIpv4(std::span(value.address).first<4>(), ipText);
        case ValueTag::ipv6:
            return formatIpv6(value.address, ipText);
        default:
            return {};
    }
}

// Later arguments of the same name replace earlier ones; the header block
// is parsed once, from its last occurrence, and only when every argument
// decoded.
std::expected<void, Error> readArguments(std::span<const std::byte> payload, const Message& message,
                                         std::string_view sessionCookie, RequestFacts& facts,
                                         std::span<char, ipTextCapacity> ipText) {
    std::string_view headers;
    auto walked = walkArguments(payload, message.argumentsStart, message.argumentCount,
                                [&](const KvItem& item) {
                                    if (item.key == "ip") {
                                        facts.ip = readIp(item.value, ipText);
                                    } else if (item.key == "backlog") {
                                        readBacklog(item.value, facts);
                                    } else if (item.key == "path") {
                                        if (item.value.tag == ValueTag::string) {
                                            facts.path = item.value.text();
                                        }
                                    } else if (item.key == "headers") {
                                        if (item.value.tag == ValueTag::string) {
                                            headers = item.value.text();
                                        }
                                    }
                                });
    if (!walked) return std::unexpected(walked.error());
    readHeaderBlock(headers, sessionCookie, facts);
    return {};
}

}  // namespace

std::expected<bool, Error> readAgentMessage(std::span<const std::byte> payload,
                                            std::string_view sessionCookie, RequestFacts& facts,
                                            std::span<char, ipTextCapacity> ipText) {
    std::size_t offset = 0;
    while (offset < payload.size()) {
        auto message = readMessageHead(payload, offset);
        if (!message) return std::unexpected(message.error());
        // The agent's message is read in the same walk that checks its
        // arguments; any other is walked only to find the next.
        if (message->name == agentMessageName) {
            if (auto read = readArguments(payload, *message, sessionCookie, facts, ipText); !read) {
                return std::unexpected(read.error());
            }
            return true;
        }
        auto end = walkArguments(payload, message->argumentsStart, message->argumentCount,
                                 [](const KvItem&) {});
        if (!end) return std::unexpected(end.error());
        offset = *end;
    }
    return false;
}

}  // namespace vorn
