#include "sockets/runloop/RunLoopPackets.h"

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

platform::MutableData bytes(std::string text) {
    platform::MutableData data;
    data.appendString(text);
    return data;
}

} // namespace

// Without reading ahead a pass never takes a byte past a terminator that may have begun.
TEST(RunLoopReadPacket, APlainTerminatorPassStopsWhereTheTerminatorCouldEnd) {
    struct Case {
        std::string term, done;
        uint64_t maxLength, chunk;
    };
    for (auto [term, done, maxLength, chunk] : {
             Case{"\r\n", "", 0, 2},          // nothing read yet
             Case{"\r\n", "ab", 0, 2},        // no start of it at the end
             Case{"\r\n", "ab\r", 0, 1},      // "\r" may start it
             Case{"\n", "ab", 0, 1},          // one byte at a time
             Case{"abcab", "xxxab", 0, 3},    // "ab" may start it
             Case{"abcab", "xabca", 0, 1},    // the longest start counts: "abca", not "a"
             Case{"\r\n\r\n", "x\r\n", 0, 2}, // "\r\n" needs the other half
             Case{"\r\n\r\n", "x\r\n", 4, 1}, // the maximum cuts the pass
             Case{"\r\n\r\n", "xyz", 5, 2},   // no start of it, and room for two
         }) {
        EXPECT_EQ(termRead(term, done, maxLength)->readLengthForTerm(), chunk) << done;
    }
}

TEST(RunLoopReadPacket, APreBufferedTerminatorIsFoundAcrossTheBytesAlreadyRead) {
    struct Case {
        std::string term, done, pre;
        uint64_t maxLength;
        bool found;
        uint64_t chunk;
    };
    for (auto [term, done, pre, maxLength, found, chunk] : {
             Case{"\r\n", "ab\r", "\ncd", 0, true, 1}, // split between the read bytes and the pre-buffer
             Case{"\r\n", "", "ab\r\ncd", 0, true, 4}, // all in the pre-buffer
             Case{"\r\n", "", "abcd", 0, false, 4},    // not there: the whole pre-buffer
             Case{"\r\n", "", "abcd", 2, false, 4},    // the window is cut, the chunk is not
             Case{"\r\n", "", "\r", 0, false, 1},      // too short to hold it
             Case{"ABCD", "", "xABCD", 2, false, 5},   // a window shorter than the terminator: no candidate
         }) {
        bool isFound = !found;
        EXPECT_EQ(termRead(term, done, maxLength)->readLengthForTermWithPreBuffer(bytes(pre), &isFound),
                  chunk)
            << pre;
        EXPECT_EQ(isFound, found) << pre;
    }
}

TEST(RunLoopReadPacket, ReadingAheadGivesBackTheBytesPastTheTerminator) {
    struct Case {
        std::string done;
        uint64_t justRead;
        int64_t overflow;
    };
    for (auto [done, justRead, overflow] : {
             Case{"ab\r\ncd", 6, 2},     // in the pass
             Case{"ab\r\ncd", 3, 2},     // begun before the pass
             Case{"ab\r\n", 4, 0},       // at the end
             Case{"ab\r\n\r\nx", 1, -1}, // only bytes already searched hold it: not looked at again
             Case{"abcd", 4, -1},
         }) {
        EXPECT_EQ(termRead("\r\n", done)->searchForTermAfterPreBuffering(justRead), overflow) << done;
    }
}

TEST(RunLoopReadPacket, PassesThatMayReadAheadTake256BytesWithinTheLimits) {
    auto caller = std::make_shared<platform::MutableData>(100);
    RunLoopReadPacket available(nullptr, 0, 0, -1, 0, std::nullopt, 0);
    RunLoopReadPacket capped(nullptr, 0, 10, -1, 0, std::nullopt, 0);
    RunLoopReadPacket exact(nullptr, 0, 0, -1, 1000, std::nullopt, 0);
    RunLoopReadPacket atOffset(caller, 90, 0, -1, 0, std::nullopt, 0);
    EXPECT_EQ(available.readLengthForNonTerm(), 256u);
    EXPECT_EQ(capped.readLengthForNonTerm(), 10u);
    EXPECT_EQ(exact.readLengthForNonTerm(), 1000u);
    EXPECT_EQ(atOffset.readLengthForNonTerm(), 10u); // fills the caller's buffer first
    atOffset.bytesDone = 10;
    EXPECT_EQ(atOffset.readLengthForNonTerm(), 256u); // then grows it
    EXPECT_EQ(termRead("\r\n", "", 100)->prebufferReadLengthForTerm(), 100u);
}
