// Reads any bytes as one of the analytics' wire records (the first byte chooses which; the rest is the
// record) and, for messages, as a message header. Beyond not crashing, leaking or allocating what the
// input merely claims, it holds the reader to its promises: failures are the protocol's own
// exceptions, and a record that reads writes bytes that read back to the same record.
#include "analytics/UAEnvelope.h"
#include "analytics/UATBinaryProtocol.h"
#include "analytics/UATIdTracking.h"
#include "analytics/UATMemoryBuffer.h"
#include "analytics/UATResponse.h"

#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_analytics_records: %s\n", what);
        std::abort();
    }
}

template <class R> void readRecord(const platform::Data& bytes) {
    auto record = std::make_shared<R>();
    try {
        UATBinaryProtocol protocol(std::make_shared<UATMemoryBuffer>(bytes));
        record->read(protocol);
    } catch (const UATException&) {
        return;
    }
    try {
        record->validate();
    } catch (const UATProtocolException&) {
    }
    (void)record->description();
    auto out = std::make_shared<UATMemoryBuffer>();
    UATBinaryProtocol writer(out);
    record->write(writer);
    auto again = std::make_shared<R>();
    UATBinaryProtocol reader(std::make_shared<UATMemoryBuffer>(out->getBuffer()));
    again->read(reader);
    require(again->description() == record->description(), "a record read back differs from the one written");
}

void readMessage(const platform::Data& bytes) {
    try {
        UATBinaryProtocol protocol(std::make_shared<UATMemoryBuffer>(bytes));
        protocol.setMessageSizeLimit(64);
        std::string name;
        protocol.readMessageBeginReturningName(&name, nullptr, nullptr);
    } catch (const UATException&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    platform::Data bytes(data + 1, size - 1);
    switch (data[0] % 8) {
    case 0:
        readRecord<UAEnvelope>(bytes);
        break;
    case 1:
        readRecord<UATResponse>(bytes);
        break;
    case 2:
        readRecord<UATImprint>(bytes);
        break;
    case 3:
        readRecord<UATImprintValue>(bytes);
        break;
    case 4:
        readRecord<UATIdTracking>(bytes);
        break;
    case 5:
        readRecord<UATIdSnapshot>(bytes);
        break;
    case 6:
        readRecord<UATIdJournal>(bytes);
        break;
    default:
        readMessage(bytes);
        break;
    }
    return 0;
}
