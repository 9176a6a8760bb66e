#include "token/receipt_checker.hpp"

#include <algorithm>
#include <cstring>

#include "common/wyhash.hpp"
#include "token/base64url.hpp"
#include "token/key_id.hpp"

// Only simdjson's error-code interface is used here: nothing below throws.

namespace vorn {

namespace {

// A segment decodes to at most 240 bytes (320 characters); the parser never
// needs more room than this, so it never grows.
constexpr std::size_t parserCapacity = 1024;
// Deep enough for nested members that are ignored.
constexpr std::size_t parserDepth = 32;

struct Segments {
    std::string_view header;
    std::string_view payload;
    std::string_view signature;
    std::string_view signingInput;
};

// Splits at the first and the last dot. A fourth segment stays inside the
// payload, whose dot then fails decoding.
std::optional<Segments> splitToken(std::string_view token) {
    const std::size_t first = token.find('.');
    const std::size_t last = token.rfind('.');
    if (first == std::string_view::npos || first == last) return std::nullopt;
    if (last > maxSigningInputLength) return std::nullopt;
    return Segments{token.substr(0, first), token.substr(first + 1, last - first - 1),
                    token.substr(last + 1), token.substr(0, last)};
}

bool decodeSignature(std::string_view segment, Signature& signature) {
    if (segment.size() != signatureSegmentLength) return false;
    auto decoded = decodeBase64Url(segment, signature);
    return decoded && *decoded == signature.size();
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool decodeJti(std::string_view text, Jti& jti) {
    if (text.size() != jtiHexDigits) return false;
    for (std::size_t i = 0; i < jti.size(); ++i) {
        const int high = hexValue(text[2 * i]);
        const int low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        jti[i] = static_cast<std::byte>(high * 16 + low);
    }
    return true;
}

// Reads a string member once: false when it was seen before or is not a
// string.
bool takeString(simdjson::dom::element value, bool& seen, std::string_view& out) {
    if (seen) return false;
    seen = true;
    return value.get_string().get(out) == simdjson::SUCCESS;
}

// exp must be written as an integer that fits in 64 signed bits.
bool takeExp(simdjson::dom::element value, bool& seen, std::int64_t& out) {
    if (seen) return false;
    seen = true;
    return value.type() == simdjson::dom::element_type::INT64 &&
           value.get_int64().get(out) == simdjson::SUCCESS;
}

bool takeNumber(simdjson::dom::element value, bool& seen, double& out) {
    if (seen) return false;
    seen = true;
    return value.is_number() && value.get_double().get(out) == simdjson::SUCCESS;
}

}  // namespace

std::expected<ReceiptChecker, Error> ReceiptChecker::create() {
    // The parser's own buffers and its document (which it would otherwise
    // grow on first use) are sized now, and the capacity is its ceiling.
    simdjson::dom::parser parser(parserCapacity);
    if (parser.allocate(parserCapacity, parserDepth) != simdjson::SUCCESS ||
        parser.doc.allocate(parserCapacity) != simdjson::SUCCESS) {
        return std::unexpected(Error::OutOfMemory);
    }
    return ReceiptChecker(std::move(parser));
}

bool ReceiptChecker::parseSegment(std::string_view segment, simdjson::dom::object& object) {
    std::span<std::byte> room(reinterpret_cast<std::byte*>(scratch_.data()),
                              scratch_.size() - simdjson::SIMDJSON_PADDING);
    auto decoded = decodeBase64Url(segment, room);
    if (!decoded) return false;
    simdjson::dom::element root;
    if (parser_.parse(scratch_.data(), *decoded, false).get(root) != simdjson::SUCCESS) {
        return false;
    }
    return root.get_object().get(object) == simdjson::SUCCESS;
}

bool ReceiptChecker::readHeader(std::string_view segment, Receipt& receipt) {
    simdjson::dom::object header;
    if (!parseSegment(segment, header)) return false;
    bool seenAlg = false;
    bool seenKid = false;
    std::string_view alg;
    std::string_view kid;
    for (simdjson::dom::key_value_pair member : header) {
        if (member.key == "alg" && !takeString(member.value, seenAlg, alg)) return false;
        if (member.key == "kid" && !takeString(member.value, seenKid, kid)) return false;
    }
    if (!seenAlg || !seenKid || alg != "EdDSA" || !isKeyId(kid)) return false;
    std::ranges::copy(kid, receipt.kid.begin());
    receipt.kidLength = static_cast<std::uint8_t>(kid.size());
    return true;
}

bool ReceiptChecker::readPayload(std::string_view segment, Payload& payload) {
    simdjson::dom::object object;
    if (!parseSegment(segment, object)) return false;
    bool seenAud = false;
    bool seenDiff = false;
    bool seenExp = false;
    bool seenJti = false;
    std::string_view jti;
    for (simdjson::dom::key_value_pair member : object) {
        bool ok = true;
        if (member.key == "aud") ok = takeString(member.value, seenAud, payload.aud);
        if (member.key == "diff") ok = takeNumber(member.value, seenDiff, payload.diff);
        if (member.key == "exp") ok = takeExp(member.value, seenExp, payload.exp);
        if (member.key == "jti") ok = takeString(member.value, seenJti, jti);
        if (!ok) return false;
    }
    return seenAud && seenDiff && seenExp && seenJti && decodeJti(jti, payload.jti);
}

ReceiptCheck ReceiptChecker::check(std::string_view token, std::string_view host,
                                   const ReceiptKeySet& keys, std::int64_t nowSeconds) {
    const auto bad = std::unexpected(ReceiptStatus::bad);
    if (token.size() > maxTokenLength) return bad;
    auto segments = splitToken(token);
    if (!segments) return bad;

    Receipt receipt;
    if (!decodeSignature(segments->signature, receipt.signature)) return bad;
    if (!readHeader(segments->header, receipt)) return bad;
    Payload payload;
    if (!readPayload(segments->payload, payload)) return bad;
    if (payload.exp <= nowSeconds) return std::unexpected(ReceiptStatus::expired);
    if (payload.aud != host) return std::unexpected(ReceiptStatus::wrong_host);
    const PublicKey* key = keys.lookup(receipt.keyId());
    if (key == nullptr) return bad;

    receipt.jti = payload.jti;
    receipt.exp = payload.exp;
    receipt.diff = payload.diff;
    receipt.fingerprint = wyhash(token);
    receipt.publicKey = *key;
    receipt.keyDigest = keyDigest(*key);
    receipt.signingInputLength = static_cast<std::uint16_t>(segments->signingInput.size());
    std::ranges::copy(segments->signingInput, receipt.signingInput.begin());
    return receipt;
}

}  // namespace vorn
