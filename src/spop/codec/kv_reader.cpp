#include "spop/codec/kv_reader.hpp"

namespace vorn {

std::expected<std::optional<KvItem>, Error> KvReader::next() {
    auto rest = data_.subspan(position_);
    if (rest.empty()) return std::nullopt;
    auto key = readString(rest);
    if (!key) return std::unexpected(key.error());
    // decodeTypedValue reports a missing type byte as Truncated.
    auto value = decodeTypedValue(rest.subspan(key->size));
    if (!value) return std::unexpected(value.error());
    position_ += key->size + value->size;
    return KvItem{asText(key->value), value->value};
}

}  // namespace vorn
