#include "token/receipt_key_set.hpp"

#include <new>
#include <optional>

#include "common/whole_file.hpp"
#include "common/wyhash.hpp"
#include "token/base64url.hpp"
#include "token/key_id.hpp"
#include "token/signature.hpp"

namespace vorn {

namespace {

constexpr std::size_t keyCharacters = 43;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view line) {
    auto trimmed = [](char c) { return isBlank(c) || c == '\r'; };
    while (!line.empty() && trimmed(line.front())) line.remove_prefix(1);
    while (!line.empty() && trimmed(line.back())) line.remove_suffix(1);
    return line;
}

// Cuts the first field off `rest` (which starts with a non-blank byte) and
// skips the blanks after it.
std::string_view takeField(std::string_view& rest) {
    std::size_t end = 0;
    while (end < rest.size() && !isBlank(rest[end])) ++end;
    std::string_view field = rest.substr(0, end);
    rest.remove_prefix(end);
    while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
    return field;
}

std::optional<PublicKey> decodePublicKey(std::string_view text) {
    PublicKey key{};
    if (text.size() != keyCharacters) return std::nullopt;
    auto decoded = decodeBase64Url(text, key);
    if (!decoded || *decoded != key.size() || !isCanonicalPublicKey(key)) return std::nullopt;
    return key;
}

struct KeyLine {
    std::string_view kid;
    PublicKey key;
};

std::optional<KeyLine> parseKeyLine(std::string_view line) {
    std::string_view kid = takeField(line);
    std::string_view keyText = takeField(line);
    if (!line.empty() || !isKeyId(kid)) return std::nullopt;
    auto key = decodePublicKey(keyText);
    if (!key) return std::nullopt;
    return KeyLine{kid, *key};
}

std::expected<ReceiptKeySet, Error> parseLines(std::string_view text) {
    ReceiptKeySet keys;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = trim(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.empty() || line.front() == '#') continue;
        auto parsed = parseKeyLine(line);
        if (!parsed) return std::unexpected(Error::BadKeyLine);
        if (!keys.insert(parsed->kid, parsed->key)) return std::unexpected(Error::DuplicateKeyId);
    }
    return keys;
}

}  // namespace

const PublicKey* ReceiptKeySet::lookup(std::string_view kid) const {
    auto found = keys_.find(kid);
    return found == keys_.end() ? nullptr : &found->second;
}

bool ReceiptKeySet::insert(std::string_view kid, const PublicKey& key) {
    return keys_.try_emplace(std::string(kid), key).second;
}

std::uint64_t keyDigest(const PublicKey& key) {
    return wyhash(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
}

std::expected<ReceiptKeySet, Error> parseReceiptKeys(std::string_view text) {
    try {
        return parseLines(text);
    } catch (const std::bad_alloc&) {
        return std::unexpected(Error::OutOfMemory);
    }
}

std::expected<ReceiptKeySet, Error> readReceiptKeys(std::string_view path) {
    auto text = readWholeFile(path, receiptKeyFileLimit);
    if (!text) return std::unexpected(text.error());
    return parseReceiptKeys(*text);
}

}  // namespace vorn
