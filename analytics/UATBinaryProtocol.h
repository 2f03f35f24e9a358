#pragma once
// The binary record protocol: big-endian integers, a type byte and a 16-bit id per field, a 0 byte after
// a struct's fields, 32-bit length prefixes. Strict write (the default) puts a versioned message
// header; strict read (off by default) demands one.
//
// Bytes from the wire are never trusted: a negative length or count is refused with
// UATProtocolException, one larger than the bytes the transport still holds fails as a truncated input
// ("Not enough bytes remain in buffer") before anything is allocated, and nothing is reserved from a
// count. One caller, one parse; no locking.

#include "analytics/UATProtocol.h"

#include <memory>

class UATBinaryProtocol final : public UATProtocol {
public:
    explicit UATBinaryProtocol(std::shared_ptr<UATTransport> transport);
    UATBinaryProtocol(std::shared_ptr<UATTransport> transport, bool strictRead, bool strictWrite);

    int32_t messageSizeLimit() const { return mMessageSizeLimit; }
    void setMessageSizeLimit(int32_t limit) { mMessageSizeLimit = limit; }
    std::shared_ptr<UATTransport> transport() const override { return mTransport; }

    std::optional<std::string> readStringBody(int32_t length);

    void readMessageBeginReturningName(std::string* name, int32_t* type, int32_t* sequenceID) override;
    void readMessageEnd() override {}
    void readStructBeginReturningName(std::string* name) override;
    void readStructEnd() override {}
    void readFieldBeginReturningName(std::string* name, int32_t* type, int32_t* fieldID) override;
    void readFieldEnd() override {}
    std::optional<std::string> readString() override;
    bool readBool() override;
    uint8_t readByte() override;
    int16_t readI16() override;
    int32_t readI32() override;
    int64_t readI64() override;
    double readDouble() override;
    platform::Data readBinary() override;
    void readMapBeginReturningKeyType(int32_t* keyType, int32_t* valueType, int32_t* size) override;
    void readMapEnd() override {}
    void readSetBeginReturningElementType(int32_t* elementType, int32_t* size) override;
    void readSetEnd() override {}
    void readListBeginReturningElementType(int32_t* elementType, int32_t* size) override;
    void readListEnd() override {}

    void writeMessageBeginWithName(std::optional<std::string_view> name, int32_t type,
                                   int32_t sequenceID) override;
    void writeMessageEnd() override {}
    void writeStructBeginWithName(std::string_view) override {}
    void writeStructEnd() override {}
    void writeFieldBeginWithName(std::string_view name, int32_t type, int32_t fieldID) override;
    void writeI32(int32_t value) override;
    void writeI64(int64_t value) override;
    void writeI16(int16_t value) override;
    void writeByte(uint8_t value) override;
    void writeString(std::optional<std::string_view> value) override;
    void writeDouble(double value) override;
    void writeBool(bool value) override;
    void writeBinary(const platform::Data& data) override;
    void writeFieldStop() override;
    void writeFieldEnd() override {}
    void writeMapBeginWithKeyType(int32_t keyType, int32_t valueType, int32_t size) override;
    void writeMapEnd() override {}
    void writeSetBeginWithElementType(int32_t elementType, int32_t size) override;
    void writeSetEnd() override {}
    void writeListBeginWithElementType(int32_t elementType, int32_t size) override;
    void writeListEnd() override {}

private:
    template <typename T> T readBigEndian();
    template <typename T> void writeBigEndian(T value);
    void readBytes(uint8_t* into, int32_t length);
    void writeBytes(const void* bytes, size_t length);
    // Refuses a negative length and one beyond what the transport holds.
    void checkLength(int32_t length, const char* what);
    void readContainerHeader(int32_t* size);

    std::shared_ptr<UATTransport> mTransport;
    bool mStrictRead{false};
    bool mStrictWrite{true};
    int32_t mMessageSizeLimit{0};
};

class UATBinaryProtocolFactory final : public UATProtocolFactory {
public:
    static std::shared_ptr<UATBinaryProtocolFactory> sharedFactory();
    std::shared_ptr<UATProtocol> newProtocolOnTransport(std::shared_ptr<UATTransport> transport) override;
};
