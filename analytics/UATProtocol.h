#pragma once
// The binary record protocol's interfaces: a protocol reads and writes typed values over a transport;
// a factory makes protocols; every record adopts UATBase. Reads that answer several values fill the
// out-parameters that are given (null ones are skipped). Failures are exceptions (UATException.h),
// never error codes. A protocol and its transport belong to the one caller that made them.

#include "analytics/UATTransport.h"
#include "platform/foundation/Data.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The type codes, one byte on the wire.
namespace UATType {
inline constexpr int32_t Stop = 0;
inline constexpr int32_t Bool = 2;
inline constexpr int32_t Byte = 3;
inline constexpr int32_t Double = 4;
inline constexpr int32_t I16 = 6;
inline constexpr int32_t I32 = 8;
inline constexpr int32_t I64 = 10;
inline constexpr int32_t String = 11; // also binary
inline constexpr int32_t Struct = 12;
inline constexpr int32_t Map = 13;
inline constexpr int32_t Set = 14;
inline constexpr int32_t List = 15;
} // namespace UATType

class UATProtocol {
public:
    virtual ~UATProtocol() = default;

    virtual std::shared_ptr<UATTransport> transport() const = 0;

    virtual void readMessageBeginReturningName(std::string* name, int32_t* type, int32_t* sequenceID) = 0;
    virtual void readMessageEnd() = 0;
    virtual void readStructBeginReturningName(std::string* name) = 0;
    virtual void readStructEnd() = 0;
    virtual void readFieldBeginReturningName(std::string* name, int32_t* type, int32_t* fieldID) = 0;
    virtual void readFieldEnd() = 0;
    // Nothing when the bytes are not UTF-8.
    virtual std::optional<std::string> readString() = 0;
    virtual bool readBool() = 0;
    virtual uint8_t readByte() = 0;
    virtual int16_t readI16() = 0;
    virtual int32_t readI32() = 0;
    virtual int64_t readI64() = 0;
    virtual double readDouble() = 0;
    virtual platform::Data readBinary() = 0;
    virtual void readMapBeginReturningKeyType(int32_t* keyType, int32_t* valueType, int32_t* size) = 0;
    virtual void readMapEnd() = 0;
    virtual void readSetBeginReturningElementType(int32_t* elementType, int32_t* size) = 0;
    virtual void readSetEnd() = 0;
    virtual void readListBeginReturningElementType(int32_t* elementType, int32_t* size) = 0;
    virtual void readListEnd() = 0;

    virtual void writeMessageBeginWithName(std::optional<std::string_view> name, int32_t type,
                                           int32_t sequenceID) = 0;
    virtual void writeMessageEnd() = 0;
    virtual void writeStructBeginWithName(std::string_view name) = 0;
    virtual void writeStructEnd() = 0;
    virtual void writeFieldBeginWithName(std::string_view name, int32_t type, int32_t fieldID) = 0;
    virtual void writeI32(int32_t value) = 0;
    virtual void writeI64(int64_t value) = 0;
    virtual void writeI16(int16_t value) = 0;
    virtual void writeByte(uint8_t value) = 0;
    // A missing string is written as an empty one.
    virtual void writeString(std::optional<std::string_view> value) = 0;
    virtual void writeDouble(double value) = 0;
    virtual void writeBool(bool value) = 0;
    virtual void writeBinary(const platform::Data& data) = 0;
    virtual void writeFieldStop() = 0;
    virtual void writeFieldEnd() = 0;
    virtual void writeMapBeginWithKeyType(int32_t keyType, int32_t valueType, int32_t size) = 0;
    virtual void writeMapEnd() = 0;
    virtual void writeSetBeginWithElementType(int32_t elementType, int32_t size) = 0;
    virtual void writeSetEnd() = 0;
    virtual void writeListBeginWithElementType(int32_t elementType, int32_t size) = 0;
    virtual void writeListEnd() = 0;
};

class UATProtocolFactory {
public:
    virtual ~UATProtocolFactory() = default;
    virtual std::shared_ptr<UATProtocol> newProtocolOnTransport(std::shared_ptr<UATTransport> transport) = 0;
};

// Every record reads itself from and writes itself to a protocol.
class UATBase {
public:
    virtual ~UATBase() = default;
    virtual void read(UATProtocol& protocol) = 0;
    virtual void write(UATProtocol& protocol) const = 0;
};
