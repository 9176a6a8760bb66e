#pragma once

#include <cstddef>
#include <expected>
#include <span>
#include <string_view>

#include "common/error.hpp"
#include "spop/codec/typed_value.hpp"

namespace vorn {

// One key/value item; both views point into the reader's data.
struct KvItem {
    std::string_view key;
    TypedValue value;
};

// Walks a key/value list (key string, typed value, repeated to the end of the
// data; there is no count). Used for HELLO payloads and, a counted number of
// items at a time, for NOTIFY message arguments.
class KvReader {
public:
    explicit KvReader(std::span<const std::byte> data, std::size_t start = 0)
        : data_(data), position_(start < data.size() ? start : data.size()) {}

    // Reads the next item into `item`: true when there was one, false at the
    // end of the data, or Truncated (key or value runs past the end, or a key
    // ends at the very end) or BadType (type code above 9). After an error
    // the reader is spent. Inline, and in place, for the request path.
    [[nodiscard]] std::expected<bool, Error> next(KvItem& item) {
        auto rest = data_.subspan(position_);
        if (rest.empty()) return false;
        auto key = readString(rest);
        if (!key) return std::unexpected(key.error());
        // decodeTypedValue reports a missing type byte as Truncated.
        auto value = decodeTypedValue(rest.subspan(key->size), item.value);
        if (!value) return std::unexpected(value.error());
        item.key = asText(key->value);
        position_ += key->size + *value;
        return true;
    }

    // Offset just past the last item read, from the start of the data.
    [[nodiscard]] std::size_t position() const { return position_; }

private:
    std::span<const std::byte> data_;
    std::size_t position_;
};

}  // namespace vorn
