#include "analytics/UATBinaryProtocol.h"

#include "analytics/UATException.h"
#include "platform/foundation/Text.h"

#include <bit>
#include <cstring>
#include <fmt/format.h>
#include <new>
#include <type_traits>
#include <vector>

namespace {

constexpr uint32_t kVersionMask = 0xffff0000;
constexpr uint32_t kVersion1 = 0x80010000;

// A block for `length` bytes from the wire; the length has been checked against the bytes that remain,
// so only a machine out of memory fails here.
std::vector<uint8_t> allocateBlock(int32_t length, const std::string& failure) {
    try {
        return std::vector<uint8_t>(static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        throw UATProtocolException(failure);
    }
}

} // namespace

UATBinaryProtocol::UATBinaryProtocol(std::shared_ptr<UATTransport> transport)
    : UATBinaryProtocol(std::move(transport), false, true) {}

UATBinaryProtocol::UATBinaryProtocol(std::shared_ptr<UATTransport> transport, bool strictRead,
                                     bool strictWrite)
    : mTransport(std::move(transport))
    , mStrictRead(strictRead)
    , mStrictWrite(strictWrite) {}

// --- reading ---

void UATBinaryProtocol::readBytes(uint8_t* into, int32_t length) {
    mTransport->readAll(into, 0, length);
}

template <typename T> T UATBinaryProtocol::readBigEndian() {
    using Unsigned = std::make_unsigned_t<T>;
    uint8_t bytes[sizeof(T)];
    readBytes(bytes, sizeof(T));
    Unsigned value = 0;
    for (uint8_t byte : bytes)
        value = static_cast<Unsigned>((value << 8) | byte);
    return static_cast<T>(value);
}

void UATBinaryProtocol::checkLength(int32_t length, const char* what) {
    if (length < 0)
        throw UATProtocolException(fmt::format("Negative {}: {}", what, length));
    if (auto remaining = mTransport->bytesRemaining();
        remaining && static_cast<uint64_t>(length) > *remaining)
        throw UATTransportException("Not enough bytes remain in buffer");
}

std::optional<std::string> UATBinaryProtocol::readStringBody(int32_t length) {
    checkLength(length, "length");
    auto body = allocateBlock(length, fmt::format("Unable to allocate memory in {}, size: {}",
                                                  "-[UATBinaryProtocol readStringBody:]", length));
    readBytes(body.data(), length);
    // The text ends at the first NUL, as a C string would.
    std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
    text = text.substr(0, text.find('\0'));
    if (!platform::text::isValidUTF8(text))
        return std::nullopt;
    return std::string(text);
}

std::optional<std::string> UATBinaryProtocol::readString() {
    return readStringBody(readI32());
}

platform::Data UATBinaryProtocol::readBinary() {
    int32_t size = readI32();
    checkLength(size, "length");
    auto bytes = allocateBlock(
        size, fmt::format("Out of memory.  Unable to allocate {} bytes trying to read binary data.", size));
    readBytes(bytes.data(), size);
    return platform::Data(std::move(bytes));
}

bool UATBinaryProtocol::readBool() {
    return readByte() == 1;
}

uint8_t UATBinaryProtocol::readByte() {
    return readBigEndian<uint8_t>();
}

int16_t UATBinaryProtocol::readI16() {
    return readBigEndian<int16_t>();
}

int32_t UATBinaryProtocol::readI32() {
    return readBigEndian<int32_t>();
}

int64_t UATBinaryProtocol::readI64() {
    return readBigEndian<int64_t>();
}

double UATBinaryProtocol::readDouble() {
    return std::bit_cast<double>(readI64());
}

void UATBinaryProtocol::readMessageBeginReturningName(std::string* name, int32_t* type, int32_t* sequenceID) {
    int32_t size = readI32();
    std::optional<std::string> messageName;
    int32_t messageType;
    if (size < 0) {
        auto header = static_cast<uint32_t>(size);
        if ((header & kVersionMask) != kVersion1)
            throw UATProtocolException("Bad version in readMessageBegin");
        messageType = static_cast<int32_t>(header & 0xff);
        messageName = readString();
    } else {
        if (mStrictRead)
            throw UATProtocolException("Missing version in readMessageBegin, old client?");
        if (mMessageSizeLimit > 0 && size > mMessageSizeLimit)
            throw UATProtocolException(fmt::format("Message too big.  Size limit is: {} Message size is: {}",
                                                   mMessageSizeLimit, size));
        messageName = readStringBody(size);
        messageType = readByte();
    }
    int32_t sequence = readI32();
    if (name)
        *name = messageName.value_or("");
    if (type)
        *type = messageType;
    if (sequenceID)
        *sequenceID = sequence;
}

void UATBinaryProtocol::readStructBeginReturningName(std::string* name) {
    if (name)
        name->clear();
}

void UATBinaryProtocol::readFieldBeginReturningName(std::string* name, int32_t* type, int32_t* fieldID) {
    if (name)
        name->clear();
    int32_t fieldType = readByte();
    if (type)
        *type = fieldType;
    if (fieldType != UATType::Stop) {
        int16_t id = readI16();
        if (fieldID)
            *fieldID = id;
    }
}

void UATBinaryProtocol::readContainerHeader(int32_t* size) {
    int32_t count = readI32();
    // Every element takes at least one byte, so a count beyond the bytes left is a lie.
    checkLength(count, "size");
    if (size)
        *size = count;
}

void UATBinaryProtocol::readMapBeginReturningKeyType(int32_t* keyType, int32_t* valueType, int32_t* size) {
    int32_t key = readByte();
    int32_t value = readByte();
    readContainerHeader(size);
    if (keyType)
        *keyType = key;
    if (valueType)
        *valueType = value;
}

void UATBinaryProtocol::readSetBeginReturningElementType(int32_t* elementType, int32_t* size) {
    readListBeginReturningElementType(elementType, size);
}

void UATBinaryProtocol::readListBeginReturningElementType(int32_t* elementType, int32_t* size) {
    int32_t element = readByte();
    readContainerHeader(size);
    if (elementType)
        *elementType = element;
}

// --- writing ---

void UATBinaryProtocol::writeBytes(const void* bytes, size_t length) {
    mTransport->write(static_cast<const uint8_t*>(bytes), 0, static_cast<uint32_t>(length));
}

template <typename T> void UATBinaryProtocol::writeBigEndian(T value) {
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    uint8_t bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = static_cast<uint8_t>(bits >> (8 * (sizeof(T) - 1 - i)));
    writeBytes(bytes, sizeof(T));
}

void UATBinaryProtocol::writeByte(uint8_t value) {
    writeBigEndian(value);
}

void UATBinaryProtocol::writeBool(bool value) {
    writeByte(value ? 1 : 0);
}

void UATBinaryProtocol::writeI16(int16_t value) {
    writeBigEndian(value);
}

void UATBinaryProtocol::writeI32(int32_t value) {
    writeBigEndian(value);
}

void UATBinaryProtocol::writeI64(int64_t value) {
    writeBigEndian(value);
}

void UATBinaryProtocol::writeDouble(double value) {
    writeI64(std::bit_cast<int64_t>(value));
}

void UATBinaryProtocol::writeString(std::optional<std::string_view> value) {
    std::string_view text = value.value_or(std::string_view());
    text = text.substr(0, text.find('\0'));
    writeI32(static_cast<int32_t>(text.size()));
    writeBytes(text.data(), text.size());
}

void UATBinaryProtocol::writeBinary(const platform::Data& data) {
    writeI32(static_cast<int32_t>(data.length()));
    writeBytes(data.bytes(), data.length());
}

void UATBinaryProtocol::writeMessageBeginWithName(std::optional<std::string_view> name, int32_t type,
                                                  int32_t sequenceID) {
    if (mStrictWrite) {
        writeI32(static_cast<int32_t>(kVersion1 | static_cast<uint32_t>(type & 0xff)));
        writeString(name);
    } else {
        writeString(name);
        writeByte(static_cast<uint8_t>(type));
    }
    writeI32(sequenceID);
}

void UATBinaryProtocol::writeFieldBeginWithName(std::string_view, int32_t type, int32_t fieldID) {
    writeByte(static_cast<uint8_t>(type));
    writeI16(static_cast<int16_t>(fieldID));
}

void UATBinaryProtocol::writeFieldStop() {
    writeByte(UATType::Stop);
}

void UATBinaryProtocol::writeMapBeginWithKeyType(int32_t keyType, int32_t valueType, int32_t size) {
    writeByte(static_cast<uint8_t>(keyType));
    writeByte(static_cast<uint8_t>(valueType));
    writeI32(size);
}

void UATBinaryProtocol::writeSetBeginWithElementType(int32_t elementType, int32_t size) {
    writeListBeginWithElementType(elementType, size);
}

void UATBinaryProtocol::writeListBeginWithElementType(int32_t elementType, int32_t size) {
    writeByte(static_cast<uint8_t>(elementType));
    writeI32(size);
}

// --- factory ---

std::shared_ptr<UATBinaryProtocolFactory> UATBinaryProtocolFactory::sharedFactory() {
    static const auto factory = std::make_shared<UATBinaryProtocolFactory>();
    return factory;
}

std::shared_ptr<UATProtocol>
UATBinaryProtocolFactory::newProtocolOnTransport(std::shared_ptr<UATTransport> transport) {
    return std::make_shared<UATBinaryProtocol>(std::move(transport));
}
