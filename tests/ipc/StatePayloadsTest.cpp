#include <gtest/gtest.h>

#include <string>

#include "ipc/StatePayloads.h"

namespace {

using namespace state_payload;

std::string SysStateBytes(std::uint32_t scene, char byte28, std::size_t size = 32) {
    std::string b(size, '\0');
    for (int i = 0; i < 4 && static_cast<std::size_t>(i) < size; ++i) b[static_cast<std::size_t>(i)] = static_cast<char>(scene >> (8 * i));
    if (size > 28) b[28] = byte28;
    return b;
}

TEST(StatePayloadsTest, SystemStateCountsOnlyWithByte28ClearAndLongEnoughToHoldIt) {
    auto b = SysStateBytes(0x01000001, 0);
    auto s = ReadSysState(b.data(), static_cast<std::int32_t>(b.size()));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->scene, 0x01000001u) << "little-endian word, not just its first byte";
    EXPECT_TRUE(s->counts);
    b = SysStateBytes(1, 1);
    EXPECT_FALSE(ReadSysState(b.data(), 32)->counts);
    b = SysStateBytes(1, 0, 28);
    EXPECT_FALSE(ReadSysState(b.data(), 28)->counts) << "byte 28 lies past a 28-byte record";
    EXPECT_EQ(ReadSysState(b.data(), 2)->scene, 1u);
    EXPECT_FALSE(ReadSysState(nullptr, 32));
    EXPECT_FALSE(ReadSysState(b.data(), 0));
    EXPECT_FALSE(ReadSysState(b.data(), -5));
}

TEST(StatePayloadsTest, AppManagerAnswerSplitsFlagAndPairsAndNotesAnIdWithoutVersion) {
    auto a = ReadAppMgAnswer("1;15;22.2;14;6.0");
    EXPECT_TRUE(a.valid);
    EXPECT_TRUE(a.show);
    ASSERT_EQ(a.ignored.size(), 2u);
    EXPECT_EQ(a.ignored[1], (std::pair<std::string, std::string>{"14", "6.0"}));
    EXPECT_FALSE(a.danglingId);

    a = ReadAppMgAnswer("0");
    EXPECT_TRUE(a.valid);
    EXPECT_FALSE(a.show);
    EXPECT_TRUE(a.ignored.empty());

    a = ReadAppMgAnswer("yes;15;22.2;16");
    EXPECT_TRUE(a.show) << "anything but 0 shows";
    EXPECT_EQ(a.ignored.size(), 1u);
    EXPECT_TRUE(a.danglingId);
    EXPECT_EQ(a.dangling, "16");

    EXPECT_FALSE(ReadAppMgAnswer("").valid);
    EXPECT_FALSE(ReadAppMgAnswer(";;;").valid);
}

TEST(StatePayloadsTest, FixedSizeAnswersMustHaveExactlyTheirSize) {
    const char four[] = {1, 0, 0, 0, 9};
    EXPECT_EQ(ReadU32Exact(four, 4), 1u);
    EXPECT_FALSE(ReadU32Exact(four, 5));
    EXPECT_FALSE(ReadU32Exact(four, 3));
    EXPECT_FALSE(ReadU32Exact(nullptr, 4));
    EXPECT_EQ(ReadByteExact(four, 1), 1);
    EXPECT_FALSE(ReadByteExact(four, 2));
    EXPECT_FALSE(ReadByteExact(nullptr, 1));
}

TEST(StatePayloadsTest, UiStatusIsLenientAboutJsonAndTypes) {
    auto s = ReadUIStatus(R"({"strDriverID":"15","complete":true,"sourceType":2})");
    EXPECT_EQ(s.strDriverID, "15");
    EXPECT_TRUE(s.complete);
    EXPECT_EQ(s.sourceType, 2);
    s = ReadUIStatus(R"({"strDriverID":15,"complete":"yes"})");
    EXPECT_EQ(s.strDriverID, "");
    EXPECT_FALSE(s.complete);
    EXPECT_EQ(s.sourceType, 1);
    s = ReadUIStatus("not json");
    EXPECT_EQ(s.sourceType, 1);
    EXPECT_EQ(Text("abc\0def", 7), "abc");
    EXPECT_EQ(Text("abcdef", 3), "abc") << "never past the length";
}

}  // namespace
