#include <gtest/gtest.h>

#include "platform/ByteReader.h"

TEST(ByteReader, ReadsBigEndianAndFailsAtTheEndOnly) {
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    ByteReader r(bytes, sizeof bytes);
    EXPECT_EQ(r.U16(), 0x1234);
    EXPECT_EQ(r.U24(), 0x56789Au);
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(r.U8(), 0);
    EXPECT_FALSE(r.Ok());
    // Once failed it stays failed, even for reads that would fit.
    EXPECT_FALSE(r.Skip(0));
}

TEST(ByteReader, SubReaderIsBoundedAndALyingLengthFailsTheParent) {
    const uint8_t bytes[] = {1, 2, 3, 4};
    ByteReader r(bytes, sizeof bytes);
    r.U8();
    ByteReader sub = r.Sub(10);
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(sub.Size(), 3u);
    EXPECT_EQ(sub.U8(), 2);
    uint8_t out[4] = {};
    EXPECT_FALSE(sub.Copy(out, 3));
    EXPECT_EQ(out[0], 0);
}
