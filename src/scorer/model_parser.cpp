#include "scorer/model_parser.hpp"

#include <simdjson.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace vorn {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// The DOM accepts a repeated key without a word, so every object is
// checked, ignored members included. Keys compare unescaped: "a" and
// "\u0061" are the same key. `keys` is scratch space shared by every level.
std::expected<void, Error> refuseRepeatedKeys(element value, std::vector<std::string_view>& keys) {
    simdjson::dom::object object;
    simdjson::dom::array array;
    if (value.get(object) == simdjson::SUCCESS) {
        keys.clear();
        for (const auto field : object) keys.push_back(field.key);
        std::ranges::sort(keys);
        if (std::ranges::adjacent_find(keys) != keys.end()) {
            return std::unexpected(Error::DuplicateKey);
        }
        for (const auto field : object) {
            if (auto checked = refuseRepeatedKeys(field.value, keys); !checked) return checked;
        }
    } else if (value.get(array) == simdjson::SUCCESS) {
        for (const element item : array) {
            if (auto checked = refuseRepeatedKeys(item, keys); !checked) return checked;
        }
    }
    return {};
}

// The parser reads a number written with a fraction or an exponent as a
// double and one written as an integer as an integer, so the element type
// tells the spelling apart.
std::expected<double, Error> floatNumber(element value) {
    if (!value.is_number()) return std::unexpected(Error::BadType);
    double number = 0;
    if (value.type() != element_type::DOUBLE || value.get(number) != simdjson::SUCCESS ||
        !std::isfinite(number)) {
        return std::unexpected(Error::BadNumber);
    }
    return number;
}

std::expected<std::vector<double>, Error> numberArray(element value) {
    simdjson::dom::array array;
    if (value.get(array) != simdjson::SUCCESS) return std::unexpected(Error::BadType);
    std::vector<double> numbers;
    for (const element item : array) {
        auto number = floatNumber(item);
        if (!number) return std::unexpected(number.error());
        numbers.push_back(*number);
    }
    return numbers;
}

std::expected<std::vector<Feature>, Error> featureArray(element value) {
    simdjson::dom::array array;
    if (value.get(array) != simdjson::SUCCESS) return std::unexpected(Error::BadType);
    std::vector<Feature> features;
    for (const element item : array) {
        std::string_view name;
        if (item.get(name) != simdjson::SUCCESS) return std::unexpected(Error::BadType);
        features.push_back(resolveFeature(name));
    }
    return features;
}

// `read` applied to the member `key` of the root object.
template <typename Read>
auto readMember(simdjson::dom::object root, std::string_view key, Read read)
    -> decltype(read(element{})) {
    element value;
    if (root.at_key(key).get(value) != simdjson::SUCCESS) {
        return std::unexpected(Error::MissingMember);
    }
    return read(value);
}

std::expected<ScorerModel, Error> readMembers(simdjson::dom::object root) {
    auto features = readMember(root, "feature_names", featureArray);
    if (!features) return std::unexpected(features.error());
    auto mean = readMember(root, "mean", numberArray);
    if (!mean) return std::unexpected(mean.error());
    auto scale = readMember(root, "scale", numberArray);
    if (!scale) return std::unexpected(scale.error());
    auto coef = readMember(root, "coef", numberArray);
    if (!coef) return std::unexpected(coef.error());
    auto intercept = readMember(root, "intercept", floatNumber);
    if (!intercept) return std::unexpected(intercept.error());
    const std::size_t n = features->size();
    if (mean->size() != n || scale->size() != n || coef->size() != n) {
        return std::unexpected(Error::LengthMismatch);
    }
    return ScorerModel{.features = std::move(*features),
                       .mean = std::move(*mean),
                       .scale = std::move(*scale),
                       .coef = std::move(*coef),
                       .intercept = *intercept};
}

std::expected<ScorerModel, Error> parseDocument(std::string_view json) {
    simdjson::dom::parser parser;
    element root;
    const simdjson::error_code parsed = parser.parse(json.data(), json.size()).get(root);
    if (parsed == simdjson::MEMALLOC) return std::unexpected(Error::OutOfMemory);
    if (parsed != simdjson::SUCCESS) return std::unexpected(Error::BadJson);
    std::vector<std::string_view> keys;
    if (auto checked = refuseRepeatedKeys(root, keys); !checked) {
        return std::unexpected(checked.error());
    }
    simdjson::dom::object object;
    if (root.get(object) != simdjson::SUCCESS) return std::unexpected(Error::BadType);
    return readMembers(object);
}

}  // namespace

std::expected<ScorerModel, Error> parseModel(std::string_view json) {
    try {
        return parseDocument(json);
    } catch (const std::bad_alloc&) {
        return std::unexpected(Error::OutOfMemory);
    }
}

}  // namespace vorn
