// Reads any bytes as JSON. Beyond not crashing, it holds the reader to three promises: it accepts
// what an independent strict parser accepts (save nesting beyond our limit) and refuses what that
// parser refuses (save numbers too large for it, which we keep as decimals); whatever it reads can
// be written, compactly and pretty-printed; and what is written reads back equal and writes again
// to the same bytes.
#include "platform/foundation/Fatal.h"
#include "platform/foundation/JSONSerialization.h"

#include <cstdio>
#include <simdjson.h>
#include <string_view>

using namespace platform;

namespace {

std::string writeOrDie(const Value& value, JSONWritingOptions options) {
    ErrorPtr error;
    auto data = JSONSerialization::dataWithJSONObject(value, options | NSJSONWritingFragmentsAllowed, &error);
    if (!data)
        std::fprintf(stderr, "fuzz_json: write failed: %s\n", error->localizedDescription().c_str());
    fatalUnless(data.has_value(), "a value that was read could not be written");
    return data->toString();
}

// Equal as the application sees the values: same structure and key order; a number written as a
// double may read back as an integer or decimal (a double of 1e17 is written "100000000000000000"),
// so a floating-point number only has to keep its double value.
bool equivalent(const Value& a, const Value& b, bool sameOrder = true) {
    if (a.type() != b.type())
        return false;
    if (a.isNumber()) {
        const Number& x = *a.number();
        const Number& y = *b.number();
        if (x.isInteger() && y.isInteger())
            return x == y;
        return x.doubleValue() == y.doubleValue();
    }
    if (a.isArray()) {
        if (a.count() != b.count())
            return false;
        for (size_t i = 0; i < a.count(); ++i) {
            if (!equivalent(a[i], b[i], sameOrder))
                return false;
        }
        return true;
    }
    if (a.isDictionary()) {
        const auto& x = a.dictionary()->entries();
        const auto& y = b.dictionary()->entries();
        if (x.size() != y.size())
            return false;
        for (size_t i = 0; i < x.size(); ++i) {
            const Value* theirs = sameOrder ? (x[i].first == y[i].first ? &y[i].second : nullptr)
                                            : b.dictionary()->find(x[i].first);
            if (!theirs || !equivalent(x[i].second, *theirs, sameOrder))
                return false;
        }
        return true;
    }
    return a == b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    Data data(bytes, size);
    ErrorPtr error;
    Value value = JSONSerialization::JSONObjectWithData(data, NSJSONReadingAllowFragments, &error);
    fatalUnless(value.isNil() == static_cast<bool>(error), "a result must be a value or an error, not both");

    Value strict = JSONSerialization::JSONObjectWithData(data, 0);
    fatalUnless(strict.isNil() || strict == value, "refusing fragments changed what was read");
    fatalUnless(!strict.isNil() || value.isNil() || (!value.isArray() && !value.isDictionary()),
                "a container was refused without the fragments option");

    std::string_view text(reinterpret_cast<const char*>(bytes), size);
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    simdjson::dom::parser reference;
    simdjson::dom::element ignored;
    simdjson::error_code referenceError = reference.parse(simdjson::padded_string(text)).get(ignored);
    if (value.isNil()) {
        fatalUnless(referenceError != simdjson::SUCCESS ||
                        error->localizedDescription().find("Too many nested") != std::string::npos,
                    "refused a document the reference parser accepts");
        return 0;
    }
    fatalUnless(referenceError == simdjson::SUCCESS || referenceError == simdjson::NUMBER_ERROR,
                "accepted a document the reference parser refuses");

    for (JSONWritingOptions options : {JSONWritingOptions(0), NSJSONWritingPrettyPrinted}) {
        std::string written = writeOrDie(value, options);
        Value again = JSONSerialization::JSONObjectWithData(Data(std::string_view(written)),
                                                            NSJSONReadingAllowFragments);
        fatalUnless(!again.isNil(), "written text does not read back");
        fatalUnless(equivalent(again, value), "written text reads back as a different value");
        fatalUnless(writeOrDie(again, options) == written, "writing is not stable across a round trip");
    }
    std::string sorted = writeOrDie(value, NSJSONWritingSortedKeys | NSJSONWritingWithoutEscapingSlashes);
    fatalUnless(equivalent(JSONSerialization::JSONObjectWithData(Data(std::string_view(sorted)),
                                                                 NSJSONReadingAllowFragments),
                           value, false),
                "sorted text reads back as a different value");
    return 0;
}
