#pragma once
// Reading a wire record from stored or received bytes and writing one to bytes, as the library's
// callers do it: an exception of the protocol is printed ("Exception occurred: ...") and never passed
// on. A record that breaks off keeps the fields read before the break; a write that breaks off
// answers the bytes written before it.

#include "analytics/UANLog.h"
#include "analytics/UATBinaryProtocol.h"
#include "analytics/UATException.h"
#include "analytics/UATMemoryBuffer.h"
#include "platform/foundation/Data.h"

#include <memory>

namespace uadetail {

template <class R> std::shared_ptr<R> recordFromData(const platform::Data& bytes, bool* complete = nullptr) {
    auto record = std::make_shared<R>();
    try {
        UATBinaryProtocol protocol(std::make_shared<UATMemoryBuffer>(bytes));
        record->read(protocol);
        if (complete)
            *complete = true;
    } catch (const UATException& e) {
        logException(e);
        if (complete)
            *complete = false;
    }
    return record;
}

template <class R> platform::Data dataFromRecord(const R& record) {
    auto buffer = std::make_shared<UATMemoryBuffer>();
    try {
        UATBinaryProtocol protocol(buffer);
        record.write(protocol);
    } catch (const UATException& e) {
        logException(e);
    }
    return buffer->getBuffer();
}

} // namespace uadetail
