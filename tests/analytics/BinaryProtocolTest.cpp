#include "analytics/UATBinaryProtocol.h"
#include "analytics/UATException.h"
#include "analytics/UATMemoryBuffer.h"
#include "analytics/UATProtocolUtil.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

platform::Data bytes(std::vector<int> values) {
    std::vector<uint8_t> out(values.begin(), values.end());
    return platform::Data(std::move(out));
}

std::vector<int> written(const std::function<void(UATBinaryProtocol&)>& write) {
    auto buffer = std::make_shared<UATMemoryBuffer>();
    UATBinaryProtocol protocol(buffer);
    write(protocol);
    auto data = buffer->getBuffer();
    return {data.bytes(), data.bytes() + data.length()};
}

struct Reader {
    explicit Reader(const platform::Data& data, bool strictRead = false)
        : buffer(std::make_shared<UATMemoryBuffer>(data))
        , protocol(buffer, strictRead, true) {}
    std::shared_ptr<UATMemoryBuffer> buffer;
    UATBinaryProtocol protocol;
};

// The reason of the protocol or transport exception `read` throws, prefixed with its name.
std::string failureOf(const std::function<void()>& read) {
    try {
        read();
    } catch (const UATException& e) {
        return e.name() + ": " + e.reason();
    }
    return "no exception";
}

std::string failureReading(std::vector<int> in, const std::function<void(UATBinaryProtocol&)>& read,
                           bool strictRead = false) {
    Reader reader(bytes(in), strictRead);
    return failureOf([&] { read(reader.protocol); });
}

void readHeader(UATBinaryProtocol& p) {
    p.readMessageBeginReturningName(nullptr, nullptr, nullptr);
}

const char* const kShort = "UATTransportException: Not enough bytes remain in buffer";

} // namespace

TEST(BinaryProtocol, WritesBigEndianScalarsAndLengthPrefixedTexts) {
    EXPECT_EQ(written([](auto& p) { p.writeI16(-2); }), (std::vector<int>{0xff, 0xfe}));
    EXPECT_EQ(written([](auto& p) { p.writeI32(0x01020304); }), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(written([](auto& p) { p.writeI64(-1); }), std::vector<int>(8, 0xff));
    EXPECT_EQ(written([](auto& p) { p.writeDouble(1.0); }), (std::vector<int>{0x3f, 0xf0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(written([](auto& p) { p.writeBool(true); }), (std::vector<int>{1}));
    EXPECT_EQ(written([](auto& p) { p.writeString(std::nullopt); }), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(written([](auto& p) { p.writeString(std::string_view("ab\0cd", 5)); }),
              (std::vector<int>{0, 0, 0, 2, 'a', 'b'}));
    EXPECT_EQ(written([](auto& p) { p.writeFieldBeginWithName("x", 11, 7); }), (std::vector<int>{11, 0, 7}));
    EXPECT_EQ(written([](auto& p) { p.writeMapBeginWithKeyType(11, 12, 2); }),
              (std::vector<int>{11, 12, 0, 0, 0, 2}));
    EXPECT_EQ(written([](auto& p) { p.writeMessageBeginWithName("m", 1, 9); }),
              (std::vector<int>{0x80, 0x01, 0x00, 0x01, 0, 0, 0, 1, 'm', 0, 0, 0, 9}));
}

TEST(BinaryProtocol, ReadsWhatTheWireRulesSay) {
    EXPECT_EQ(Reader(bytes({0, 0, 0, 0})).protocol.readString(), "");
    EXPECT_FALSE(Reader(bytes({2})).protocol.readBool());
    EXPECT_TRUE(Reader(bytes({1})).protocol.readBool());
    EXPECT_EQ(Reader(bytes({0xff, 0xfe})).protocol.readI16(), -2);
    EXPECT_EQ(Reader(bytes({0, 0, 0, 3, 'a', 0, 'b'})).protocol.readString(), "a");
    EXPECT_EQ(Reader(bytes({0, 0, 0, 2, 0xc3, 0x28})).protocol.readString(), std::nullopt);
    EXPECT_EQ(Reader(bytes({0x3f, 0xf0, 0, 0, 0, 0, 0, 0})).protocol.readDouble(), 1.0);
    // A stop field's header takes one byte.
    Reader reader(bytes({0, 8, 0, 3}));
    int32_t type = -1, id = -1;
    reader.protocol.readFieldBeginReturningName(nullptr, &type, &id);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(reader.protocol.readByte(), 8);
}

TEST(BinaryProtocol, MessageHeaders) {
    Reader versioned(bytes({0x80, 0x01, 0x00, 0x01, 0, 0, 0, 1, 'm', 0, 0, 0, 9}));
    std::string name;
    int32_t type = 0, sequence = 0;
    versioned.protocol.readMessageBeginReturningName(&name, &type, &sequence);
    EXPECT_EQ(name, "m");
    EXPECT_EQ(type, 1);
    EXPECT_EQ(sequence, 9);

    Reader old(bytes({0, 0, 0, 2, 'o', 'k', 4, 0, 0, 0, 5}));
    old.protocol.readMessageBeginReturningName(&name, &type, nullptr);
    EXPECT_EQ(name, "ok");
    EXPECT_EQ(type, 4);

    EXPECT_EQ(failureReading({0x80, 0x02, 0, 1}, readHeader),
              "UATProtocolException: Bad version in readMessageBegin");
    EXPECT_EQ(failureReading({0, 0, 0, 1}, readHeader, true),
              "UATProtocolException: Missing version in readMessageBegin, old client?");
    EXPECT_EQ(failureReading({0, 0, 0, 9},
                             [](auto& p) {
                                 p.setMessageSizeLimit(8);
                                 readHeader(p);
                             }),
              "UATProtocolException: Message too big.  Size limit is: 8 Message size is: 9");
}

TEST(BinaryProtocol, SkippingAStructWithAListOfStructsStopsAtItsEnd) {
    auto data = written([](UATBinaryProtocol& p) {
        p.writeFieldBeginWithName("", 15, 1);
        p.writeListBeginWithElementType(12, 2);
        for (int i = 0; i < 2; ++i) {
            p.writeFieldBeginWithName("", 11, 1);
            p.writeString("inner");
            p.writeFieldBeginWithName("", 13, 2);
            p.writeMapBeginWithKeyType(8, 10, 1);
            p.writeI32(1);
            p.writeI64(2);
            p.writeFieldStop();
        }
        p.writeFieldBeginWithName("", 4, 2);
        p.writeDouble(0.5);
        p.writeFieldStop();
        p.writeI32(77); // what follows the struct
    });
    Reader reader(bytes(data));
    UATProtocolUtil::skipType(12, reader.protocol);
    EXPECT_EQ(reader.protocol.readI32(), 77);
}

TEST(MemoryBuffer, CompactsOnceThePositionReaches4096AndAShortReadKeepsThePosition) {
    std::vector<int> all(6000);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<int>(i * 7 % 251);
    Reader reader(bytes(all));
    for (int i = 0; i < 5000; ++i)
        ASSERT_EQ(reader.protocol.readByte(), all[i]) << i;
    auto kept = reader.buffer->getBuffer();
    ASSERT_EQ(kept.length(), 6000u - 4096u);
    EXPECT_EQ(kept.bytes()[0], all[4096]);
    for (int i = 5000; i < 6000; ++i)
        ASSERT_EQ(reader.protocol.readByte(), all[i]) << i;

    // A short read throws and keeps the position.
    Reader shortOne(bytes({1, 2, 3}));
    EXPECT_EQ(failureOf([&] { shortOne.protocol.readI32(); }), kShort);
    EXPECT_EQ(shortOne.protocol.readByte(), 1);
    EXPECT_EQ(shortOne.protocol.readI16(), 0x0203);
}

TEST(BinaryProtocol, HostileLengthsAndDepthsAreRefusedBeforeAllocating) {
    EXPECT_EQ(failureReading({0xff, 0xff, 0xff, 0xfb}, [](auto& p) { p.readString(); }),
              "UATProtocolException: Negative length: -5");
    EXPECT_EQ(failureReading({0x7f, 0xff, 0xff, 0xff, 'a'}, [](auto& p) { p.readString(); }), kShort);
    EXPECT_EQ(failureReading({0x7f, 0xff, 0xff, 0xff}, [](auto& p) { p.readBinary(); }), kShort);
    EXPECT_EQ(failureReading({12, 0x80, 0, 0, 0},
                             [](auto& p) { p.readListBeginReturningElementType(nullptr, nullptr); }),
              "UATProtocolException: Negative size: -2147483648");
    EXPECT_EQ(failureReading({0, 12, 0x7f, 0xff, 0xff, 0xff},
                             [](auto& p) { p.readMapBeginReturningKeyType(nullptr, nullptr, nullptr); }),
              kShort);
    EXPECT_EQ(failureReading({1, 0x7f, 0xff, 0xff, 0xff}, [](auto& p) { UATProtocolUtil::skipType(15, p); }),
              kShort);

    // Structs nested a thousand deep: each level is one field header of type struct.
    std::vector<int> deep;
    for (int i = 0; i < 1000; ++i)
        deep.insert(deep.end(), {12, 0, 1});
    EXPECT_EQ(failureReading(deep, [](auto& p) { UATProtocolUtil::skipType(12, p); }),
              "UATProtocolException: Maximum nesting depth exceeded");
}
