#include "spop/codec/kv_reader.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "spop/codec/wire_bytes.hpp"

namespace vorn {
namespace {

using testing_wire::wire;

TEST(KvReader, EmptyListEndsAtOnce) {
    KvReader reader({});
    KvItem item;
    auto read = reader.next(item);
    ASSERT_TRUE(read.has_value());
    EXPECT_FALSE(*read);
    EXPECT_EQ(reader.position(), 0u);
}

TEST(KvReader, ReadsItemsToTheEnd) {
    auto bytes = wire(
        "07 \"version\" 08 03 \"2.0\" "
        "0E \"max-frame-size\" 03 F0 F1 06 "
        "0B \"healthcheck\" 11");
    KvReader reader(bytes);
    KvItem item;

    ASSERT_EQ(reader.next(item), true);
    EXPECT_EQ(item.key, "version");
    EXPECT_EQ(item.value.tag, ValueTag::string);
    EXPECT_EQ(item.value.text(), "2.0");
    EXPECT_EQ(reader.position(), 13u);

    ASSERT_EQ(reader.next(item), true);
    EXPECT_EQ(item.key, "max-frame-size");
    EXPECT_EQ(item.value.tag, ValueTag::unsignedInt);
    EXPECT_EQ(item.value.integer, 16384u);

    ASSERT_EQ(reader.next(item), true);
    EXPECT_EQ(item.key, "healthcheck");
    EXPECT_EQ(item.value.tag, ValueTag::boolean);
    EXPECT_TRUE(item.value.boolean);

    ASSERT_EQ(reader.next(item), false);
    EXPECT_EQ(reader.position(), bytes.size());
}

// A message list: name, argument count, arguments, then the next message.
// The reader starts after the count and, after the counted items, its
// position is where the next message begins.
TEST(KvReader, StartsMidDataAndReportsWhereItStopped) {
    auto bytes = wire("03 \"msg\" 01 04 \"path\" 08 01 \"/\" 05 \"other\" 00");
    KvReader reader(bytes, 5);
    KvItem path;
    ASSERT_EQ(reader.next(path), true);
    EXPECT_EQ(path.key, "path");
    EXPECT_EQ(path.value.text(), "/");
    EXPECT_EQ(reader.position(), 13u);
    EXPECT_EQ(bytes[reader.position()], std::byte{5});
}

struct KvErrorCase {
    std::string name;
    std::string input;
    Error error;
};

void PrintTo(const KvErrorCase& row, std::ostream* out) {
    *out << row.name;
}

class KvReaderError : public testing::TestWithParam<KvErrorCase> {};

TEST_P(KvReaderError, Fails) {
    auto bytes = wire(GetParam().input);
    KvReader reader(bytes);
    KvItem item;
    std::expected<bool, Error> read;
    do {
        read = reader.next(item);
    } while (read.value_or(false));
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KvReaderError,
    testing::Values(KvErrorCase{"KeyAtTheVeryEnd", "03 \"abc\"", Error::Truncated},
                    KvErrorCase{"KeyAtTheEndAfterAnItem", "01 \"a\" 00 01 \"b\"", Error::Truncated},
                    KvErrorCase{"KeyCut", "05 \"ab\"", Error::Truncated},
                    KvErrorCase{"KeyLengthCut", "F0", Error::Truncated},
                    KvErrorCase{"ValueCut", "01 \"k\" 06 01 02", Error::Truncated},
                    KvErrorCase{"BadType", "01 \"k\" 0A", Error::BadType},
                    KvErrorCase{"BadTypeAfterAnItem", "01 \"a\" 11 01 \"b\" 0F 00",
                                Error::BadType}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vorn
