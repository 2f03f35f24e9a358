// The arithmetic of read requests: how much a step may take and where a terminator ends, including a
// terminator that straddles the request's own bytes and the pre-buffer.
#include "sockets/common/Packets.h"
#include "sockets/common/SocketAddress.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string_view>

using sockets::PreBuffer;
using sockets::ReadPacket;

namespace {

platform::Data bytes(std::string_view text) {
    return platform::Data(text);
}

ReadPacket termPacket(std::string_view terminator, uint64_t maxLength = 0) {
    return ReadPacket(nullptr, 0, maxLength, -1, 0, bytes(terminator), 0);
}

// Puts bytes into the packet as if an earlier step had read them.
void holdBytes(ReadPacket& packet, std::string_view text) {
    packet.ensureCapacityForAdditionalDataOfLength(text.size());
    std::memcpy(packet.buffer->mutableBytes() + packet.startOffset + packet.bytesDone, text.data(),
                text.size());
    packet.bytesDone += text.size();
}

void fill(PreBuffer& preBuffer, std::string_view text) {
    preBuffer.ensureCapacityForWrite(text.size());
    std::memcpy(preBuffer.writeBuffer(), text.data(), text.size());
    preBuffer.didWrite(text.size());
}

} // namespace

TEST(ReadPacketTerminator, TerminatorStartingInHeldBytesEndsInThePreBuffer) {
    auto packet = termPacket("\r\n");
    holdBytes(packet, "ab\r");
    PreBuffer preBuffer(64);
    fill(preBuffer, "\nxyz");

    bool found = false;
    EXPECT_EQ(packet.readLengthForTermWithPreBuffer(preBuffer, &found), 1u);
    EXPECT_TRUE(found);
}

TEST(ReadPacketTerminator, TerminatorInsideThePreBufferTakesBytesUpToIt) {
    auto packet = termPacket("\r\n");
    PreBuffer preBuffer(64);
    fill(preBuffer, "ab\r\ncd");
    bool found = false;
    EXPECT_EQ(packet.readLengthForTermWithPreBuffer(preBuffer, &found), 4u);
    EXPECT_TRUE(found);

    auto other = termPacket("\r\n");
    PreBuffer partial(64);
    fill(partial, "ab\r");
    found = true;
    EXPECT_EQ(other.readLengthForTermWithPreBuffer(partial, &found), 3u);
    EXPECT_FALSE(found);
}

TEST(ReadPacketTerminator, TooFewBytesForATerminatorLeaveFoundUntouched) {
    auto packet = termPacket("abc");
    PreBuffer preBuffer(64);
    fill(preBuffer, "ab");
    bool found = true;
    EXPECT_EQ(packet.readLengthForTermWithPreBuffer(preBuffer, &found), 2u);
    EXPECT_TRUE(found);
}

TEST(ReadPacketTerminator, MaxLengthLimitsWhatIsSearchedAndTaken) {
    auto packet = termPacket("\r\n", 10);
    holdBytes(packet, "12345678");
    PreBuffer preBuffer(64);
    fill(preBuffer, "ab\r\n");
    bool found = true;
    EXPECT_EQ(packet.readLengthForTermWithPreBuffer(preBuffer, &found), 2u);
    EXPECT_FALSE(found); // the terminator lies beyond the two bytes the limit allows

    auto edge = termPacket("\r\n", 10);
    holdBytes(edge, "1234567\r");
    PreBuffer lf(64);
    fill(lf, "\nzz");
    EXPECT_EQ(edge.readLengthForTermWithPreBuffer(lf, &found), 1u);
    EXPECT_TRUE(found);
}

TEST(ReadPacketTerminator, LongTerminatorMatchesAcrossBothBuffers) {
    std::string terminator(100, '-');
    auto packet = termPacket(terminator);
    holdBytes(packet, "data" + std::string(60, '-'));
    PreBuffer preBuffer(256);
    fill(preBuffer, std::string(40, '-') + "tail");
    bool found = false;
    EXPECT_EQ(packet.readLengthForTermWithPreBuffer(preBuffer, &found), 40u);
    EXPECT_TRUE(found);
}

TEST(ReadPacketTerminator, SearchAfterReadingStartsWhereATerminatorCanOverlapNewBytes) {
    auto packet = termPacket("\r\n");
    holdBytes(packet, "abcd\r");
    // Three new bytes arrive straight in the buffer: "\nef".
    packet.ensureCapacityForAdditionalDataOfLength(3);
    std::memcpy(packet.buffer->mutableBytes() + packet.bytesDone, "\nef", 3);
    EXPECT_EQ(packet.searchForTermAfterPreBuffering(3), 2); // two bytes read past the terminator

    auto early = termPacket("\r\n");
    holdBytes(early, "\r\n123"); // a terminator before index 4 is not looked at again
    early.ensureCapacityForAdditionalDataOfLength(3);
    std::memcpy(early.buffer->mutableBytes() + early.bytesDone, "xyz", 3);
    EXPECT_EQ(early.searchForTermAfterPreBuffering(3), -1);
}

TEST(ReadPacketLengths, ReadToLengthNeverAsksForMoreThanItNeeds) {
    ReadPacket packet(nullptr, 0, 0, -1, 8, std::nullopt, 0);
    holdBytes(packet, "abc");
    bool preBuffer = true;
    EXPECT_EQ(packet.optimalReadLengthWithDefault(32768, &preBuffer), 5u);
    EXPECT_FALSE(preBuffer);
    EXPECT_EQ(packet.readLengthForNonTermWithHint(100), 5u);
    EXPECT_EQ(packet.readLengthForNonTermWithHint(2), 2u);
}

TEST(ReadPacketBuffers, OwnedBufferOfAPeerGivenLengthHoldsOnlyTheBytesThatArrived) {
    ReadPacket packet(nullptr, 0, 0, -1, 0xFFFFFFFFu, std::nullopt, 0);
    EXPECT_EQ(packet.buffer->length(), 0u);
    holdBytes(packet, "abc");
    EXPECT_LE(packet.buffer->length(), 1u << 20); // room for the next steps, not for the claim
    EXPECT_EQ(packet.buffer->view().substr(0, 3), "abc");
    for (int i = 0; i < 100; ++i)
        holdBytes(packet, std::string(1000, 'x'));
    EXPECT_LE(packet.buffer->length(), 2 * packet.bytesDone + (1u << 20));
    EXPECT_EQ(packet.readLengthForNonTermWithHint(100), 100u); // still reading toward the full length
    bool preBuffer = true;
    EXPECT_EQ(packet.optimalReadLengthWithDefault(32768, &preBuffer), 32768u);
    EXPECT_FALSE(preBuffer);
}

TEST(ReadPacketLengths, ReadAvailableHonoursMaxLengthAndReportsWhenTheBufferIsTooSmall) {
    ReadPacket unlimited(nullptr, 0, 0, -1, 0, std::nullopt, 0);
    bool preBuffer = false;
    EXPECT_EQ(unlimited.optimalReadLengthWithDefault(32768, &preBuffer), 32768u);
    EXPECT_TRUE(preBuffer); // an owned buffer starts empty
    EXPECT_EQ(unlimited.readLengthForNonTermWithHint(25), 25u);

    ReadPacket limited(nullptr, 0, 10, -1, 0, std::nullopt, 0);
    EXPECT_EQ(limited.readLengthForNonTermWithHint(25), 10u);
    EXPECT_EQ(limited.optimalReadLengthWithDefault(32768, nullptr), 10u);

    auto big = std::make_shared<platform::MutableData>(100);
    ReadPacket roomy(big, 10, 0, -1, 0, std::nullopt, 0);
    EXPECT_EQ(roomy.readLengthForTermWithHint(50, &preBuffer), 50u);
    EXPECT_FALSE(preBuffer);
    EXPECT_EQ(roomy.readLengthForTermWithHint(91, &preBuffer), 91u);
    EXPECT_TRUE(preBuffer);
}

TEST(ReadPacketBuffers, CallerBufferIsUsedInPlaceAndGrownOnlyWhenNeeded) {
    auto callerBuffer = std::make_shared<platform::MutableData>(100);
    ReadPacket packet(callerBuffer, 10, 0, -1, 0, std::nullopt, 7);
    EXPECT_EQ(packet.buffer, callerBuffer);
    EXPECT_FALSE(packet.bufferOwner);
    EXPECT_EQ(packet.originalBufferLength, 100u);
    EXPECT_EQ(packet.startOffset, 10u);

    packet.ensureCapacityForAdditionalDataOfLength(90);
    EXPECT_EQ(callerBuffer->length(), 100u);
    packet.ensureCapacityForAdditionalDataOfLength(200);
    EXPECT_EQ(callerBuffer->length(), 210u);

    ReadPacket owned(nullptr, 5, 0, -1, 0, std::nullopt, 0);
    EXPECT_TRUE(owned.bufferOwner);
    EXPECT_EQ(owned.startOffset, 0u); // an owned buffer always starts at 0
    EXPECT_EQ(owned.originalBufferLength, 0u);
}
