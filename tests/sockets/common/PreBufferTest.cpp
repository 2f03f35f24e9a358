#include "sockets/common/PreBuffer.h"

#include <cstring>
#include <gtest/gtest.h>

using sockets::PreBuffer;

TEST(PreBuffer, GrowsByWhatAWriteNeedsAndKeepsUnreadBytesInPlace) {
    PreBuffer buffer(4096);
    buffer.ensureCapacityForWrite(4096);
    std::memset(buffer.writeBuffer(), 'x', 4096);
    buffer.didWrite(4096);
    buffer.didRead(96);
    ASSERT_EQ(buffer.availableBytes(), 4000u);

    buffer.ensureCapacityForWrite(200);

    EXPECT_EQ(buffer.capacity(), 4296u);
    EXPECT_EQ(buffer.readOffset(), 96u);
    EXPECT_EQ(buffer.availableBytes(), 4000u);
    EXPECT_EQ(buffer.availableSpace(), 200u);
    EXPECT_EQ(buffer.readBuffer()[0], 'x');
    EXPECT_EQ(buffer.readBuffer()[3999], 'x');
}

TEST(PreBuffer, ReadingEveryByteReturnsBothPositionsToTheStart) {
    PreBuffer buffer(64);
    std::memcpy(buffer.writeBuffer(), "abcdef", 6);
    buffer.didWrite(6);
    buffer.didRead(2);
    EXPECT_EQ(buffer.availableSpace(), 58u); // the space before the read position is not counted

    buffer.didRead(4);

    EXPECT_EQ(buffer.availableBytes(), 0u);
    EXPECT_EQ(buffer.availableSpace(), 64u);
    EXPECT_EQ(buffer.readOffset(), 0u);
}

TEST(PreBuffer, ResetDropsUnreadBytesButKeepsTheBlock) {
    PreBuffer buffer(16);
    buffer.ensureCapacityForWrite(100);
    buffer.didWrite(50);
    buffer.reset();
    EXPECT_EQ(buffer.availableBytes(), 0u);
    EXPECT_EQ(buffer.capacity(), 100u);
    EXPECT_EQ(buffer.availableSpace(), 100u);
}

TEST(PreBuffer, GetBuffersReportPointersAndSizes) {
    PreBuffer buffer(8);
    std::memcpy(buffer.writeBuffer(), "abc", 3);
    buffer.didWrite(3);
    uint8_t* read = nullptr;
    uint64_t available = 0;
    buffer.getReadBuffer(&read, &available);
    EXPECT_EQ(available, 3u);
    EXPECT_EQ(std::memcmp(read, "abc", 3), 0);
    uint8_t* write = nullptr;
    uint64_t space = 0;
    buffer.getWriteBuffer(&write, &space);
    EXPECT_EQ(space, 5u);
    EXPECT_EQ(write, read + 3);
    buffer.getReadBuffer(nullptr, nullptr); // optional outputs
}
