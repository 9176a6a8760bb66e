#include "gate/form_field.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "support/test_name.hpp"

namespace vorn {
namespace {

struct FieldRow {
    std::string name;
    std::string form;
    std::expected<std::optional<std::string>, GateFault> value;
};

void PrintTo(const FieldRow& row, std::ostream* out) {
    *out << row.name;
}

class FormFieldRows : public testing::TestWithParam<FieldRow> {};

// Decoded into a room of 8 bytes.
TEST_P(FormFieldRows, DecodesTheField) {
    std::array<char, 8> room{};
    auto field = formField(GetParam().form, "return", room);
    std::expected<std::optional<std::string>, GateFault> value = std::nullopt;
    if (!field) {
        value = std::unexpected(field.error());
    } else if (*field) {
        value = std::string(**field);
    }
    EXPECT_EQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FormFieldRows,
    testing::Values(
        FieldRow{"plain", "return=/a", std::string("/a")},
        FieldRow{"among others", "nonce=x&return=%2Fa%2Fb&counter=1", std::string("/a/b")},
        FieldRow{"plus is space", "return=a+b", std::string("a b")},
        FieldRow{"upper and lower hex", "return=%2f%2F", std::string("//")},
        FieldRow{"empty value", "return=", std::string()},
        FieldRow{"no equals sign", "return", std::string()},
        FieldRow{"absent", "nonce=x", std::nullopt},
        FieldRow{"prefix of another name", "returns=/a", std::nullopt},
        FieldRow{"given twice", "return=/a&return=/b", std::unexpected(GateFault::BadForm)},
        FieldRow{"percent at the end", "return=/a%", std::unexpected(GateFault::BadForm)},
        FieldRow{"percent and one digit", "return=/a%2", std::unexpected(GateFault::BadForm)},
        FieldRow{"percent and no hex", "return=%zz", std::unexpected(GateFault::BadForm)},
        FieldRow{"fills the room", "return=%2F2345678", std::string("/2345678")},
        FieldRow{"longer than the room", "return=/23456789", std::unexpected(GateFault::BadForm)}),
    [](const testing::TestParamInfo<FieldRow>& info) { return test::testName(info.param.name); });

}  // namespace
}  // namespace vorn
