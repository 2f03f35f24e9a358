// Reads any bytes as an XML property list. Beyond not crashing, it holds the reader and writer to
// their promises: a read gives a value or an error, never both; whatever is read can be written;
// what is written reads back as the same value (dates to the whole second, which is all the text
// form keeps) and writes again to the same bytes.
#include "platform/foundation/Fatal.h"
#include "platform/foundation/PropertyList.h"

#include <cmath>
#include <cstdio>
#include <cstring>

using namespace platform;

namespace {

bool sameDouble(double a, double b) {
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y; // 0.0 and -0.0 are told apart: "-0" must survive the text form
}

// Equal kind for kind: Value's own equality would let 1, 1.0 and true stand for each other, which
// the text form must not. `written` is the value read back from what `read` wrote.
bool same(const Value& read, const Value& written) {
    if (read.type() != written.type())
        return false;
    switch (read.type()) {
    case Value::Type::Number: {
        const Number& a = *read.number();
        const Number& b = *written.number();
        if (a.kind() == Number::Kind::Double && b.kind() == Number::Kind::Double)
            return sameDouble(a.doubleValue(), b.doubleValue());
        if (a.kind() == Number::Kind::Bool && b.kind() == Number::Kind::Bool)
            return a.boolValue() == b.boolValue();
        // 64-bit integers come back signed when they fit, unsigned otherwise.
        bool aInteger = a.kind() == Number::Kind::Int || a.kind() == Number::Kind::UInt;
        bool bInteger = b.kind() == Number::Kind::Int || b.kind() == Number::Kind::UInt;
        return aInteger && bInteger && a.stringValue() == b.stringValue();
    }
    case Value::Type::Date:
        return std::floor(read.date()->timeIntervalSince1970()) == written.date()->timeIntervalSince1970();
    case Value::Type::Array: {
        if (read.count() != written.count())
            return false;
        for (size_t i = 0; i < read.count(); ++i) {
            if (!same(read[i], written[i]))
                return false;
        }
        return true;
    }
    case Value::Type::Dictionary: {
        if (read.count() != written.count())
            return false;
        for (const auto& [key, member] : *read.dictionary()) {
            const Value* theirs = written.dictionary()->find(key);
            if (!theirs || !same(member, *theirs))
                return false;
        }
        return true;
    }
    case Value::Type::String:
    case Value::Type::Data:
        return read == written;
    default:
        return false; // a plist holds nothing else
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    ErrorPtr error;
    Value value = PropertyList::read(Data(bytes, size), &error);
    fatalUnless(value.isNil() == static_cast<bool>(error), "a result must be a value or an error, not both");
    if (value.isNil()) {
        fatalUnless(error->code() == NSPropertyListReadCorruptError,
                    "a refused plist must say it is corrupt");
        return 0;
    }
    fatalUnless(PropertyList::isPropertyList(value), "a value that was read is not a property list");

    ErrorPtr writeError;
    auto written = PropertyList::write(value, &writeError);
    if (!written)
        std::fprintf(stderr, "fuzz_plist: %s\n", writeError->description().c_str());
    fatalUnless(written.has_value(), "a value that was read could not be written");

    ErrorPtr againError;
    Value again = PropertyList::read(*written, &againError);
    if (again.isNil())
        std::fprintf(stderr, "fuzz_plist: %s\n%s\n", againError->description().c_str(),
                     written->toString().c_str());
    fatalUnless(!again.isNil(), "written bytes do not read back");
    fatalUnless(same(value, again), "written bytes read back as a different value");

    auto rewritten = PropertyList::write(again);
    fatalUnless(rewritten.has_value() && *rewritten == *written, "writing is not stable across a round trip");
    return 0;
}
