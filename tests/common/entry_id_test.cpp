#include "common/entry_id.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(EntryId, NeverHoldsFewerThan24Bytes) {
    EntryId id;
    EXPECT_EQ(id.Length(), 24u);
    EXPECT_TRUE(id.IsBlank());
    id.SetLength(10);
    EXPECT_EQ(id.Length(), 24u);
    id.Reset(3);
    EXPECT_EQ(id.Length(), 24u);
    EXPECT_EQ(EntryId(Bytes{1, 2, 3}).Length(), 24u);
    EXPECT_EQ(EntryId(Bytes{}).Length(), 24u);
}

TEST(EntryId, AnUnchangedLengthKeepsTheBytesAChangedOneStartsAfresh) {
    EntryId id(Bytes{1, 2, 3});
    id.SetLength(24);
    EXPECT_EQ(id.Bytes()[0], 1);
    id.Reset(24); // a fresh buffer whatever the length
    EXPECT_TRUE(id.IsBlank());
    id.Assign(Bytes(40, 7));
    id.SetLength(41);
    EXPECT_EQ(id.Bytes(), Bytes(41, 0));
}

TEST(EntryId, CopiesNoMoreThanItsLengthAndNeverReadsPastTheSource) {
    EntryId id;
    id.SetLength(30);
    const std::uint8_t source[40] = {9, 8, 7};
    id.CopyFrom(source, 3); // the rest of the buffer becomes zero, not source[3..]
    Bytes expected(30, 0);
    expected[0] = 9;
    expected[1] = 8;
    expected[2] = 7;
    EXPECT_EQ(id.Bytes(), expected);
    id.Bytes()[29] = 1;
    id.CopyFrom(nullptr, 10); // no source: nothing changes
    EXPECT_EQ(id.Bytes()[29], 1);
    const Bytes longer(50, 5);
    id.CopyFrom(longer.data(), longer.size());
    EXPECT_EQ(id.Bytes(), Bytes(30, 5));
}

TEST(EntryId, AssignPadsAndReplacesWhatWasThere) {
    EntryId id(Bytes(24, 0xFF));
    id.Assign(Bytes{1});
    Bytes expected(24, 0);
    expected[0] = 1;
    EXPECT_EQ(id.Bytes(), expected);
    id.Assign({});
    EXPECT_TRUE(id.IsBlank());
    EXPECT_EQ(EntryId(Bytes(30, 2)), EntryId(Bytes(30, 2)));
    EXPECT_FALSE(EntryId(Bytes(30, 2)) == EntryId(Bytes(31, 2)));
}

} // namespace
} // namespace qf
