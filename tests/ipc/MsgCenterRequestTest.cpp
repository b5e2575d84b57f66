// The message-centre request: its exact bytes, and the reader the message centre uses.
#include <gtest/gtest.h>

#include <string>

#include "ipc/MsgCenterRequest.h"

namespace {

TEST(MsgCenterRequest, APopupWithEmptyTextIs35BytesInWireOrder) {
    CMsgCenterRequest r;
    r.firstOwnerId = 0x1122334455667788ULL;
    r.displayTimeMs = 21600000;
    r.kindValue = r.firstOwnerId;
    const std::vector<char> bytes = r.Serialize();
    ASSERT_EQ(bytes.size(), 35u);
    ASSERT_EQ(r.ComputedSize(), 35u);
    const std::string expected(
        "\xFC\x01"                           // marker, version
        "\x04\x00\x00\x00"                   // kind
        "\x88\x77\x66\x55\x44\x33\x22\x11"  // first owner
        "\x00\x00\x00\x00\x00\x00\x00\x00"  // second owner
        "\x00\x97\x49\x01"                   // 21600000 ms
        "\x00"                               // empty text
        "\x88\x77\x66\x55\x44\x33\x22\x11",  // kind value
        35);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
}

TEST(MsgCenterRequest, ReadsBackWhatItWritesAndRefusesAnythingElse) {
    CMsgCenterRequest r;
    r.firstOwnerId = 42;
    r.kindValue = 42;
    r.text = "restart";
    const std::vector<char> bytes = r.Serialize();
    EXPECT_EQ(bytes.size(), r.ComputedSize());
    auto back = CMsgCenterRequest::Parse(bytes.data(), bytes.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->kind, 4u);
    EXPECT_EQ(back->firstOwnerId, 42u);
    EXPECT_EQ(back->displayTimeMs, 5000u);
    EXPECT_EQ(back->text, "restart");
    EXPECT_EQ(back->kindValue, 42u);

    EXPECT_FALSE(CMsgCenterRequest::Parse(bytes.data(), bytes.size() - 1)) << "cut inside the kind value";
    EXPECT_FALSE(CMsgCenterRequest::Parse(nullptr, 0));
    std::vector<char> wrongMarker = bytes;
    wrongMarker[0] = 0;
    EXPECT_FALSE(CMsgCenterRequest::Parse(wrongMarker.data(), wrongMarker.size()));
    std::vector<char> noTerminator(bytes.begin(), bytes.begin() + 26);
    noTerminator.push_back('x');
    EXPECT_FALSE(CMsgCenterRequest::Parse(noTerminator.data(), noTerminator.size()));
}

TEST(MsgCenterRequest, KindsWithoutAValueEndAtTheTextAndListKindsAreNotWritten) {
    CMsgCenterRequest r;
    r.kind = 7;
    EXPECT_EQ(r.Serialize().size(), 27u);
    r.kind = 6;
    EXPECT_TRUE(r.Serialize().empty());
}

}  // namespace
