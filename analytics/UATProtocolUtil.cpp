#include "analytics/UATProtocolUtil.h"

#include "analytics/UATException.h"

void UATProtocolUtil::skipType(int32_t type, UATProtocol& protocol) {
    skip(type, protocol, 0);
}

void UATProtocolUtil::skip(int32_t type, UATProtocol& protocol, int depth) {
    if (depth > kMaximumDepth)
        throw UATProtocolException("Maximum nesting depth exceeded");
    switch (type) {
    case UATType::Bool:
        protocol.readBool();
        break;
    case UATType::Byte:
        protocol.readByte();
        break;
    case UATType::Double:
        protocol.readDouble();
        break;
    case UATType::I16:
        protocol.readI16();
        break;
    case UATType::I32:
        protocol.readI32();
        break;
    case UATType::I64:
        protocol.readI64();
        break;
    case UATType::String:
        protocol.readString();
        break;
    case UATType::Struct: {
        protocol.readStructBeginReturningName(nullptr);
        for (;;) {
            int32_t fieldType = UATType::Stop;
            protocol.readFieldBeginReturningName(nullptr, &fieldType, nullptr);
            if (fieldType == UATType::Stop)
                break;
            skip(fieldType, protocol, depth + 1);
            protocol.readFieldEnd();
        }
        protocol.readStructEnd();
        break;
    }
    case UATType::Map: {
        int32_t keyType = 0, valueType = 0, size = 0;
        protocol.readMapBeginReturningKeyType(&keyType, &valueType, &size);
        for (int32_t i = 0; i < size; ++i) {
            skip(keyType, protocol, depth + 1);
            skip(valueType, protocol, depth + 1);
        }
        protocol.readMapEnd();
        break;
    }
    case UATType::Set:
    case UATType::List: {
        int32_t elementType = 0, size = 0;
        if (type == UATType::Set)
            protocol.readSetBeginReturningElementType(&elementType, &size);
        else
            protocol.readListBeginReturningElementType(&elementType, &size);
        for (int32_t i = 0; i < size; ++i)
            skip(elementType, protocol, depth + 1);
        if (type == UATType::Set)
            protocol.readSetEnd();
        else
            protocol.readListEnd();
        break;
    }
    default:
        break;
    }
}
