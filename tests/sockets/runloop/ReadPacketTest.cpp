#include "sockets/runloop/RunLoopPackets.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

// A terminator read that has read `done` into a buffer of its own.
std::shared_ptr<RunLoopReadPacket> termRead(std::string term, std::string done, uint64_t maxLength = 0) {
    auto packet = std::make_shared<RunLoopReadPacket>(nullptr, 0, maxLength, -1, 0, platform::Data(term), 0);
    packet->buffer->appendString(done);
    packet->bytesDone = done.size();
    return packet;
}

} // namespace

// Without reading ahead a pass never takes a byte past a terminator that may have begun.
TEST(RunLoopReadPacket, APlainTerminatorPassStopsWhereTheTerminatorCouldEnd) {
    EXPECT_EQ(termRead("\r\n", "")->readLengthForTerm(), 2u);             // nothing read yet
    EXPECT_EQ(termRead("\r\n", "ab")->readLengthForTerm(), 2u);           // no start of it at the end
    EXPECT_EQ(termRead("\r\n", "ab\r")->readLengthForTerm(), 1u);         // "\r" may start it
    EXPECT_EQ(termRead("\n", "ab")->readLengthForTerm(), 1u);             // one byte at a time
    EXPECT_EQ(termRead("abcab", "xxxab")->readLengthForTerm(), 3u);       // "ab" may start it
    EXPECT_EQ(termRead("abcab", "xabca")->readLengthForTerm(), 1u);       // the longest start counts
    EXPECT_EQ(termRead("\r\n\r\n", "x\r\n")->readLengthForTerm(), 2u);    // "\r\n" needs the other half
    EXPECT_EQ(termRead("\r\n\r\n", "x\r\n", 4)->readLengthForTerm(), 1u); // the maximum cuts the pass
    EXPECT_EQ(termRead("\r\n\r\n", "xyz", 5)->readLengthForTerm(), 2u);   // no start of it, room for two
}

TEST(RunLoopReadPacket, APreBufferedTerminatorIsFoundAcrossTheBytesAlreadyRead) {
    // The chunk taken from the pre-buffer, and whether the terminator was found.
    auto scan = [](std::string term, std::string done, std::string pre, uint64_t maxLength = 0) {
        bool found = false;
        uint64_t chunk =
            termRead(term, done, maxLength)
                ->readLengthForTermWithPreBuffer(platform::MutableData(platform::Data(pre)), &found);
        return std::pair(chunk, found);
    };
    EXPECT_EQ(scan("\r\n", "ab\r", "\ncd"), std::pair(uint64_t(1), true)); // split across read and pre-buffer
    EXPECT_EQ(scan("\r\n", "", "ab\r\ncd"), std::pair(uint64_t(4), true)); // all in the pre-buffer
    EXPECT_EQ(scan("\r\n", "", "abcd"), std::pair(uint64_t(4), false));    // not there: the whole pre-buffer
    EXPECT_EQ(scan("\r\n", "", "abcd", 2), std::pair(uint64_t(4), false)); // the window is cut, not the chunk
    EXPECT_EQ(scan("\r\n", "", "\r"), std::pair(uint64_t(1), false));      // too short to hold it
    EXPECT_EQ(scan("ABCD", "", "xABCD", 2), std::pair(uint64_t(5), false)); // window shorter than it
}

TEST(RunLoopReadPacket, ReadingAheadGivesBackTheBytesPastTheTerminator) {
    auto overflow = [](std::string done, uint64_t justRead) {
        return termRead("\r\n", done)->searchForTermAfterPreBuffering(justRead);
    };
    EXPECT_EQ(overflow("ab\r\ncd", 6), 2);     // in the pass
    EXPECT_EQ(overflow("ab\r\ncd", 3), 2);     // begun before the pass
    EXPECT_EQ(overflow("ab\r\n", 4), 0);       // at the end
    EXPECT_EQ(overflow("ab\r\n\r\nx", 1), -1); // only bytes already searched hold it: not looked at again
    EXPECT_EQ(overflow("abcd", 4), -1);
}

TEST(RunLoopReadPacket, PassesThatMayReadAheadTake256BytesWithinTheLimits) {
    auto caller = std::make_shared<platform::MutableData>(100);
    RunLoopReadPacket atOffset(caller, 90, 0, -1, 0, std::nullopt, 0);
    EXPECT_EQ(RunLoopReadPacket(nullptr, 0, 0, -1, 0, std::nullopt, 0).readLengthForNonTerm(), 256u);
    EXPECT_EQ(RunLoopReadPacket(nullptr, 0, 10, -1, 0, std::nullopt, 0).readLengthForNonTerm(), 10u);
    EXPECT_EQ(RunLoopReadPacket(nullptr, 0, 0, -1, 1000, std::nullopt, 0).readLengthForNonTerm(), 1000u);
    EXPECT_EQ(atOffset.readLengthForNonTerm(), 10u); // fills the caller's buffer first
    atOffset.bytesDone = 10;
    EXPECT_EQ(atOffset.readLengthForNonTerm(), 256u); // then grows it
    EXPECT_EQ(termRead("\r\n", "", 100)->prebufferReadLengthForTerm(), 100u);
}

// A length read of a length a peer claims (four bytes of 0xFF) holds only about what has arrived, in its
// own buffer or behind the bytes of a caller's; each pass still reads toward the whole length.
TEST(RunLoopReadPacket, ALengthReadGrowsItsBufferOnlyAsBytesArrive) {
    const uint64_t claim = 0xFFFFFFFFu;
    auto prefix = std::make_shared<platform::MutableData>(platform::Data("head"));
    for (auto caller : {std::shared_ptr<platform::MutableData>(), prefix}) {
        SCOPED_TRACE(caller ? "caller's buffer" : "own buffer");
        const uint64_t offset = caller ? 4 : 0;
        RunLoopReadPacket packet(caller, offset, 0, -1, claim, std::nullopt, 0);
        while (packet.bytesDone < 300'000) {
            uint64_t chunk = packet.readLengthForNonTerm();
            ASSERT_GT(chunk, 0u);
            uint8_t* space = packet.spaceFor(chunk);
            ASSERT_LE(packet.buffer->length(),
                      std::max<uint64_t>(2 * (offset + packet.bytesDone), 64 * 1024));
            // A pass brings 1000 bytes, or fewer when that is all the room.
            uint64_t arrived = std::min<uint64_t>(chunk, 1000);
            std::memset(space, 'x', arrived);
            packet.bytesDone += arrived;
        }
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(packet.buffer->bytes()), 4),
                  caller ? "head" : "xxxx");
    }
    // A length that fits is taken whole in one pass.
    RunLoopReadPacket small(nullptr, 0, 0, -1, 10, std::nullopt, 0);
    EXPECT_EQ(small.readLengthForNonTerm(), 10u);
}
