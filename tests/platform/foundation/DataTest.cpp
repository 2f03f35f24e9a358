#include "platform/foundation/Data.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory_resource>

using platform::Data;
using platform::MutableData;

TEST(DataSlices, SubdataSharesTheBufferAndClampsToTheBytesThatExist) {
    Data whole(std::string_view("0123456789"));
    Data middle = whole.subdata(2, 5);
    EXPECT_EQ(middle.view(), "23456");
    EXPECT_EQ(middle.bytes(), whole.bytes() + 2);

    Data inner = middle.subdata(1, 2);
    EXPECT_EQ(inner.view(), "34");
    EXPECT_EQ(inner.bytes(), whole.bytes() + 3);

    EXPECT_EQ(middle.subdata(3, 100).view(), "56");
    EXPECT_TRUE(middle.subdata(5, 1).empty());
    EXPECT_TRUE(middle.subdata(50, 1).empty());
    EXPECT_EQ(whole.subdata(0, SIZE_MAX).view(), "0123456789");
    EXPECT_EQ(whole.subdata(SIZE_MAX, SIZE_MAX).length(), 0u);
}

TEST(DataSlices, EqualityAndHashFollowTheBytesNotTheBuffer) {
    Data whole(std::string_view("abcabc"));
    Data first = whole.subdata(0, 3), second = whole.subdata(3, 3);
    Data separate(std::string_view("abc"));
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, separate);
    EXPECT_EQ(first.hash(), separate.hash());
    EXPECT_FALSE(first == whole);
    EXPECT_EQ(Data(std::vector<uint8_t>{0, 1, 255}).toVector(), (std::vector<uint8_t>{0, 1, 255}));
    EXPECT_EQ(Data(std::string_view("x\0y", 3)).length(), 3u);
}

TEST(DataSlices, SourceBytesAreCopiedOnConstruction) {
    char text[] = "hello";
    Data data(text, 5);
    text[0] = 'j';
    EXPECT_EQ(data.toString(), "hello");
}

TEST(MutableDataEdits, AppendsAndResizes) {
    MutableData buffer;
    buffer.appendString("ab");
    buffer.appendBytes("cd", 2);
    buffer.appendData(Data(std::string_view("ef")).subdata(1, 1));
    buffer.appendBytes(nullptr, 0);
    EXPECT_EQ(buffer.view(), "abcdf");

    buffer.setLength(3);
    EXPECT_EQ(buffer.view(), "abc");
    buffer.increaseLengthBy(2);
    EXPECT_EQ(buffer.view(), std::string_view("abc\0\0", 5));
    EXPECT_EQ(MutableData(4).view(), std::string_view("\0\0\0\0", 4));
}

TEST(MutableDataEdits, GrowthWithoutFillKeepsTheBytesBeforeAndOtherGrowthStillClears) {
    MutableData buffer(Data(std::string_view("abcdef")));
    buffer.setLengthUninitialized(2);
    EXPECT_EQ(buffer.view(), "ab");
    buffer.setLengthUninitialized(1 << 16); // past the capacity: the kept bytes move with the buffer
    ASSERT_EQ(buffer.length(), size_t(1) << 16);
    EXPECT_EQ(buffer.view().substr(0, 2), "ab");
    std::memset(buffer.mutableBytes() + 2, 'x', buffer.length() - 2);

    // Bytes once written within the capacity must not come back through the growths that clear.
    buffer.setLength(2);
    buffer.setLength(4);
    EXPECT_EQ(buffer.view(), std::string_view("ab\0\0", 4));
    buffer.setLength(2);
    buffer.increaseLengthBy(2);
    EXPECT_EQ(buffer.view(), std::string_view("ab\0\0", 4));
}

TEST(MutableDataEdits, ReplacesRangesThatGrowShrinkOrRunPastTheEnd) {
    MutableData buffer(Data(std::string_view("0123456789")));
    buffer.replaceBytes(2, 3, "ab", 2);
    EXPECT_EQ(buffer.view(), "01ab56789");
    buffer.replaceBytes(0, 1, "XYZ", 3);
    EXPECT_EQ(buffer.view(), "XYZ1ab56789");
    buffer.replaceBytes(3, 0, "-", 1);
    EXPECT_EQ(buffer.view(), "XYZ-1ab56789");
    buffer.replaceBytes(8, 100, nullptr, 0);
    EXPECT_EQ(buffer.view(), "XYZ-1ab5");
    buffer.replaceBytes(100, 5, "!", 1);
    EXPECT_EQ(buffer.view(), "XYZ-1ab5!");
}

TEST(MutableDataEdits, ReplacementMayComeFromTheBufferItself) {
    MutableData buffer(Data(std::string_view("abcd")));
    // Replace "b" with "cd", read from the buffer being edited.
    buffer.replaceBytes(1, 1, buffer.bytes() + 2, 2);
    EXPECT_EQ(buffer.view(), "acdcd");

    MutableData same(Data(std::string_view("abcdef")));
    same.replaceBytes(0, 3, same.bytes() + 3, 3);
    EXPECT_EQ(same.view(), "defdef");

    MutableData doubled(Data(std::string_view("xy")));
    doubled.appendBytes(doubled.bytes(), doubled.length());
    EXPECT_EQ(doubled.view(), "xyxy");
}

TEST(MutableDataEdits, RemovesFromTheFront) {
    MutableData buffer(Data(std::string_view("header|body")));
    buffer.removeFirst(7);
    EXPECT_EQ(buffer.view(), "body");
    buffer.removeFirst(100);
    EXPECT_TRUE(buffer.empty());
    buffer.removeFirst(1);
    EXPECT_TRUE(buffer.empty());
}

TEST(MutableDataEdits, SnapshotsDoNotSeeLaterEdits) {
    MutableData buffer(Data(std::string_view("abc")));
    Data snapshot = buffer.data();
    buffer.mutableBytes()[0] = 'z';
    buffer.appendString("d");
    EXPECT_EQ(snapshot.view(), "abc");
    EXPECT_EQ(buffer.data().view(), "zbcd");

    Data source(std::string_view("keep"));
    MutableData copy(source);
    copy.mutableBytes()[0] = 'p';
    EXPECT_EQ(source.view(), "keep");
    EXPECT_TRUE(MutableData(Data()).empty());
}

TEST(DataBufferFill, TakeHandsOutTheBytesInPlaceAndLeavesTheBufferEmptyForReuse) {
    platform::DataBuffer buffer;
    buffer.reserve(8);
    buffer.append("abc", 3);
    buffer.append("de", 2);
    EXPECT_EQ(buffer.capacity(), 8u); // within the room reserved: no move
    Data taken = buffer.take();
    EXPECT_EQ(taken.view(), "abcde");
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(buffer.capacity(), 0u);

    // The next fill must not write into the block the taken Data still shows.
    buffer.append("xyz", 3);
    EXPECT_EQ(buffer.take().view(), "xyz");
    EXPECT_EQ(taken.view(), "abcde");
    EXPECT_EQ(taken.subdata(1, 3).view(), "bcd");
    EXPECT_TRUE(buffer.take().empty());
}

TEST(DataBufferFill, AppendsPastTheReservedRoomKeepTheBytesBefore) {
    struct Case {
        size_t reserved;
        size_t pieces;
    };
    for (Case c : {Case{0, 1}, Case{1, 3}, Case{4, 100}, Case{1024, 2000}}) {
        platform::DataBuffer buffer;
        buffer.reserve(c.reserved);
        std::string expected;
        for (size_t i = 0; i < c.pieces; ++i) {
            std::string piece(i % 7 + 1, char('a' + i % 26));
            buffer.append(piece.data(), piece.size());
            expected += piece;
        }
        EXPECT_EQ(buffer.length(), expected.size());
        EXPECT_GE(buffer.capacity(), expected.size());
        EXPECT_EQ(buffer.take().view(), expected) << c.reserved << " reserved, " << c.pieces << " pieces";
    }
}

TEST(DataBufferFill, ReservingLessThanTheBytesHeldKeepsThem) {
    platform::DataBuffer buffer;
    buffer.append("0123456789", 10);
    buffer.reserve(4);
    buffer.reserve(64);
    EXPECT_EQ(buffer.capacity(), 64u);
    EXPECT_EQ(buffer.take().view(), "0123456789");
}

TEST(DataBufferFill, AMovedFromBufferStartsOverEmpty) {
    platform::DataBuffer first;
    first.append("abc", 3);
    platform::DataBuffer second(std::move(first));
    first.append("x", 1); // must find no room it no longer owns
    EXPECT_EQ(first.take().view(), "x");

    platform::DataBuffer third;
    third.append("zz", 2);
    third = std::move(second);
    second.append("r", 1);
    EXPECT_EQ(second.take().view(), "r");
    EXPECT_EQ(third.take().view(), "abc");
}

// Counts what is live in it, so a test sees whether a block came from it and when it went back.
class CountingBlocks final : public std::pmr::memory_resource {
public:
    int live{0};
    int made{0};

private:
    void* do_allocate(size_t bytes, size_t alignment) override {
        ++live;
        ++made;
        return std::pmr::new_delete_resource()->allocate(bytes, alignment);
    }
    void do_deallocate(void* block, size_t bytes, size_t alignment) override {
        --live;
        std::pmr::new_delete_resource()->deallocate(block, bytes, alignment);
    }
    bool do_is_equal(const memory_resource& other) const noexcept override { return this == &other; }
};

TEST(DataBufferFill, ABufferGivenBlocksFillsThemAndTheLastCopyOfItsDataGivesTheBlockBack) {
    CountingBlocks blocks;
    Data kept;
    {
        platform::DataBuffer buffer(&blocks);
        buffer.reserve(4);
        buffer.append("abcdefgh", 8); // outgrows the room: the second block comes from the same place
        EXPECT_EQ(blocks.made, 2);
        EXPECT_EQ(blocks.live, 1);
        kept = buffer.take().subdata(2, 3);

        platform::DataBuffer moved(std::move(buffer)); // a moved buffer keeps drawing from them
        moved.append("x", 1);
        EXPECT_EQ(blocks.made, 3);
        EXPECT_EQ(moved.take().view(), "x");
    }
    EXPECT_EQ(blocks.live, 1);
    EXPECT_EQ(kept.view(), "cde");
    kept = Data();
    EXPECT_EQ(blocks.live, 0);
}
