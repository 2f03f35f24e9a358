#include "json/ValueTransformer.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Text.h"

#include <cmath>
#include <limits>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

using platform::Number;
using platform::Value;
using platform::ValueArray;
using platform::ValueDictionary;
using platform::ValueSet;

namespace {

struct ConversionTable {
    mutable std::shared_mutex mutex;
    std::unordered_map<std::string, ValueTransformer::Conversion> conversions;
};

ConversionTable& table() {
    // Never destroyed: a detached worker may still convert while static destructors run at exit.
    static ConversionTable* instance = [] {
        auto* t = new ConversionTable;
        auto& c = t->conversions;
        using T = ValueTransformer;
        c["NSMutableStringFromNSString:"] = &T::NSMutableStringFromNSString;
        c["NSMutableArrayFromNSArray:"] = &T::NSMutableArrayFromNSArray;
        c["NSArrayFromMappedModelArray:"] = &T::NSArrayFromMappedModelArray;
        c["NSMutableArrayFromMappedModelArray:"] = &T::NSMutableArrayFromMappedModelArray;
        c["NSMutableDictionaryFromNSDictionary:"] = &T::NSMutableDictionaryFromNSDictionary;
        c["NSSetFromNSArray:"] = &T::NSSetFromNSArray;
        c["NSMutableSetFromNSArray:"] = &T::NSMutableSetFromNSArray;
        c["JSONObjectFromNSSet:"] = &T::JSONObjectFromNSSet;
        c["JSONObjectFromNSMutableSet:"] = &T::JSONObjectFromNSMutableSet;
        c["BOOLFromNSNumber:"] = &T::BOOLFromNSNumber;
        c["BOOLFromNSString:"] = &T::BOOLFromNSString;
        c["JSONObjectFromBOOL:"] = &T::JSONObjectFromBOOL;
        c["floatFromObject:"] = [](const Value& v) { return Value(T::floatFromObject(v)); };
        c["floatFromNSString:"] = [](const Value& v) { return Value(T::floatFromNSString(v)); };
        c["floatFromNSNumber:"] = [](const Value& v) { return Value(T::floatFromNSNumber(v)); };
        c["NSNumberFromfloat:"] = [](const Value& v) { return T::NSNumberFromfloat(T::floatFromObject(v)); };
        c["NSNumberFromNSString:"] = &T::NSNumberFromNSString;
        c["NSStringFromNSNumber:"] = &T::NSStringFromNSNumber;
        c["NSDecimalNumberFromNSString:"] = &T::NSDecimalNumberFromNSString;
        c["NSStringFromNSDecimalNumber:"] = &T::NSStringFromNSDecimalNumber;
        c["NSURLFromNSString:"] = &T::NSURLFromNSString;
        c["JSONObjectFromNSURL:"] = &T::JSONObjectFromNSURL;
        c["__NSDateFromNSString:"] = &T::NSDateFromNSString;
        c["__JSONObjectFromNSDate:"] = &T::JSONObjectFromNSDate;
        c["NSDateFromNSNumber:"] = &T::NSDateFromNSNumber;
        c["NSTimeZoneFromNSString:"] = &T::NSTimeZoneFromNSString;
        c["JSONObjectFromNSTimeZone:"] = &T::JSONObjectFromNSTimeZone;
        c["__NSDictionaryFromNSArray:"] = &T::NSDictionaryFromNSArray;
        c["__NSMutableDictionaryFromNSArray:"] = &T::NSMutableDictionaryFromNSArray;
        return t;
    }();
    return *instance;
}

// The integer value a number or a text gives, as the platform's integerValue reads it.
int64_t integerValueOf(const Value& value) {
    if (auto* n = value.number())
        return n->int64Value();
    if (auto* s = value.string())
        return platform::text::integerValue(*s);
    return 0;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The longest decimal number at the start of `text` (sign, digits, fraction, exponent), and whether
// it is integral (no fraction and no exponent).
struct NumericPrefix {
    std::string text;
    bool integral{true};
};

NumericPrefix numericPrefix(std::string_view text) {
    NumericPrefix out;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digitsStart = i;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    bool hasDigits = i > digitsStart;
    if (i < text.size() && text[i] == '.') {
        size_t fractionStart = ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        if (i > fractionStart || hasDigits) {
            hasDigits = true;
            out.integral = false;
        }
    }
    if (!hasDigits)
        return {};
    size_t mantissaEnd = i;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        size_t exponentStart = j;
        while (j < text.size() && isDigit(text[j]))
            ++j;
        if (j > exponentStart) {
            mantissaEnd = j;
            out.integral = false;
        }
    }
    out.text = std::string(text.substr(0, mantissaEnd));
    return out;
}

std::string leadingTrimmed(std::string_view text) {
    return platform::text::trimmingWhitespaceAndNewlines(text);
}

} // namespace

std::string ValueTransformer::TimeZoneObject::description() const {
    return m_zone ? m_zone->name() : std::string("<nil>");
}

ValueTransformer::ValueTransformer() {
    auto& registry = platform::ClassRegistry::shared();
    if (!registry.classNamed("NSTimeZone")) {
        platform::ClassInfo info;
        info.name = "NSTimeZone";
        info.type = std::type_index(typeid(TimeZoneObject));
        registry.registerClass(std::move(info));
    }
}

const std::map<std::string, std::string, std::less<>>& ValueTransformer::primitivesNames() const {
    // On the 64-bit platform NSInteger is "q" and so reads as "long"; "I" is unsigned int.
    static const std::map<std::string, std::string, std::less<>> names{
        {"f", "float"},      {"i", "int"},   {"d", "double"}, {"l", "long"},
        {"c", "BOOL"},       {"s", "short"}, {"q", "long"},   {"I", "NSInteger"},
        {"Q", "NSUInteger"}, {"B", "BOOL"},  {"@?", "Block"},
    };
    return names;
}

std::optional<std::string> ValueTransformer::primitiveName(std::string_view code) const {
    auto& names = primitivesNames();
    auto it = names.find(code);
    if (it == names.end())
        return std::nullopt;
    return it->second;
}

std::string ValueTransformer::classByResolvingClusterClasses(std::string_view className) {
    static const std::pair<std::string_view, std::string_view> clusters[] = {
        {"NSString", "NSString"},         {"NSNumber", "NSNumber"}, {"NSArray", "NSArray"},
        {"NSDictionary", "NSDictionary"}, {"NSDate", "NSDate"},
    };
    static const std::pair<std::string_view, std::string_view> knownSubclasses[] = {
        {"NSMutableString", "NSString"},
        {"NSDecimalNumber", "NSNumber"},
        {"NSMutableArray", "NSArray"},
        {"NSMutableDictionary", "NSDictionary"},
    };
    for (auto& [name, cluster] : clusters) {
        if (className == name)
            return std::string(cluster);
    }
    for (auto& [name, cluster] : knownSubclasses) {
        if (className == name)
            return std::string(cluster);
    }
    auto& registry = platform::ClassRegistry::shared();
    for (auto& [name, cluster] : clusters) {
        if (registry.isSubclass(className, name))
            return std::string(cluster);
    }
    return std::string(className);
}

std::string ValueTransformer::classByResolvingClusterClassesOfValue(const Value& value) {
    switch (value.type()) {
    case Value::Type::Nil:
        return {};
    case Value::Type::Null:
        return "NSNull";
    case Value::Type::Number:
        return "NSNumber";
    case Value::Type::String:
        return "NSString";
    case Value::Type::Data:
        return "NSData";
    case Value::Type::Date:
        return "NSDate";
    case Value::Type::URL:
        return "NSURL";
    case Value::Type::Array:
        return "NSArray";
    case Value::Type::Dictionary:
        return "NSDictionary";
    case Value::Type::Set:
        return "NSSet";
    case Value::Type::Object:
        return classByResolvingClusterClasses(value.object()->className());
    }
    return {};
}

bool ValueTransformer::responds(std::string_view name) const {
    auto& t = table();
    std::shared_lock lock(t.mutex);
    return t.conversions.contains(std::string(name));
}

std::optional<ValueTransformer::Conversion> ValueTransformer::conversion(std::string_view name) const {
    auto& t = table();
    std::shared_lock lock(t.mutex);
    auto it = t.conversions.find(std::string(name));
    if (it == t.conversions.end())
        return std::nullopt;
    return it->second;
}

Value ValueTransformer::transform(std::string_view name, const Value& value) const {
    auto found = conversion(name);
    if (!found || !*found)
        return {};
    return (*found)(value);
}

void ValueTransformer::registerConversion(std::string name, Conversion conversion) {
    auto& t = table();
    std::unique_lock lock(t.mutex);
    if (conversion)
        t.conversions[std::move(name)] = std::move(conversion);
    else
        t.conversions.erase(name);
}

const platform::DateFormatter& ValueTransformer::importDateFormatter() {
    static const auto* formatter = new platform::DateFormatter("yyyy-MM-dd'T'HHmmssZZZ");
    return *formatter;
}

const platform::DateFormatter& ValueTransformer::exportDateFormatter() {
    static const auto* formatter = new platform::DateFormatter("yyyy-MM-dd'T'HH:mm:ssZZZ");
    return *formatter;
}

// Values are copy-on-write, so a "mutable" copy is the value itself: whoever changes it gets their own.
Value ValueTransformer::NSMutableStringFromNSString(const Value& string) {
    return string;
}

// A lazy model array is an object, not an array: it passes through unchanged, as it must.
Value ValueTransformer::NSMutableArrayFromNSArray(const Value& array) {
    return array;
}

Value ValueTransformer::NSArrayFromMappedModelArray(const Value& array) {
    return array;
}

Value ValueTransformer::NSMutableArrayFromMappedModelArray(const Value& array) {
    return array;
}

Value ValueTransformer::NSMutableDictionaryFromNSDictionary(const Value& dictionary) {
    return dictionary;
}

Value ValueTransformer::NSSetFromNSArray(const Value& array) {
    auto* members = array.array();
    if (!members)
        return {};
    ValueSet set;
    for (auto& member : *members)
        set.insert(member);
    return Value(std::move(set));
}

Value ValueTransformer::NSMutableSetFromNSArray(const Value& array) {
    return NSSetFromNSArray(array);
}

Value ValueTransformer::JSONObjectFromNSSet(const Value& set) {
    auto* members = set.set();
    if (!members)
        return {};
    return Value(ValueArray(members->begin(), members->end()));
}

Value ValueTransformer::JSONObjectFromNSMutableSet(const Value& set) {
    return JSONObjectFromNSSet(set);
}

Value ValueTransformer::BOOLFromNSNumber(const Value& number) {
    if (number.isNil() || number.isNull())
        return Value(false);
    return Value(integerValueOf(number) != 0);
}

Value ValueTransformer::BOOLFromNSString(const Value& string) {
    auto* text = string.string();
    if (!text)
        return Value(integerValueOf(string) != 0);
    if (platform::text::equalsIgnoringASCIICase(*text, "true") ||
        platform::text::equalsIgnoringASCIICase(*text, "yes"))
        return Value(true);
    return Value(platform::text::integerValue(*text) != 0);
}

Value ValueTransformer::JSONObjectFromBOOL(const Value& number) {
    return Value(integerValueOf(number) != 0);
}

float ValueTransformer::floatFromObject(const Value& value) {
    if (auto* n = value.number())
        return n->floatValue();
    if (auto* s = value.string())
        return platform::text::floatValue(*s);
    return 0;
}

Value ValueTransformer::NSNumberFromfloat(float value) {
    return Value(value);
}

// The numeric value is read as the platform reads a text's (leading blanks skipped, the longest
// numeric prefix, 0 when there is none), but integral texts stay exact: ids above 2^24 or 2^53 would
// otherwise come back as a neighbouring id.
Value ValueTransformer::NSNumberFromNSString(const Value& string) {
    auto* text = string.string();
    if (!text) {
        if (auto* n = string.number())
            return Value(*n);
        return {};
    }
    auto trimmed = leadingTrimmed(*text);
    auto prefix = numericPrefix(trimmed);
    if (prefix.text.empty())
        return Value(int64_t{0});
    if (!prefix.integral)
        return Value(platform::text::doubleValue(prefix.text));
    // A leading "+" is not part of the exact reader's grammar.
    std::string_view digits = prefix.text;
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    if (auto exact = platform::text::numberFromString(digits))
        return Value(*exact);
    return Value(platform::text::doubleValue(prefix.text));
}

Value ValueTransformer::NSStringFromNSNumber(const Value& number) {
    if (auto* n = number.number())
        return Value(n->stringValue());
    if (number.isString())
        return number;
    return {};
}

Value ValueTransformer::NSDecimalNumberFromNSString(const Value& string) {
    auto* text = string.string();
    if (!text)
        return {};
    auto prefix = numericPrefix(leadingTrimmed(*text));
    // A text without a number is not-a-number, as the platform's decimal reader answers.
    if (prefix.text.empty())
        return Value(Number::decimal("NaN"));
    std::string decimal = prefix.text;
    if (decimal.front() == '+')
        decimal.erase(0, 1);
    return Value(Number::decimal(std::move(decimal)));
}

Value ValueTransformer::NSStringFromNSDecimalNumber(const Value& number) {
    auto* n = number.number();
    if (!n)
        return {};
    if (n->kind() == Number::Kind::Decimal)
        return Value(n->decimalText());
    return Value(n->stringValue());
}

Value ValueTransformer::NSURLFromNSString(const Value& string) {
    auto* text = string.string();
    if (!text)
        return {};
    auto url = platform::URL::create(*text);
    if (!url)
        return {};
    return Value(std::move(url));
}

Value ValueTransformer::JSONObjectFromNSURL(const Value& url) {
    auto u = url.url();
    if (!u)
        return {};
    return Value(u->absoluteString());
}

// The import pattern has no colons, so texts are read with every colon removed: "+08:00" and "+0800",
// "12:30:00" and "123000" all read alike.
Value ValueTransformer::NSDateFromNSString(const Value& string) {
    auto* text = string.string();
    if (!text)
        return {};
    auto stripped = platform::text::stringByReplacingOccurrencesOfString(*text, ":", "");
    auto date = importDateFormatter().dateFromString(stripped);
    if (!date)
        return {};
    return Value(*date);
}

Value ValueTransformer::JSONObjectFromNSDate(const Value& date) {
    auto* d = date.date();
    if (!d)
        return {};
    return Value(exportDateFormatter().stringFromDate(*d));
}

Value ValueTransformer::NSDateFromNSNumber(const Value& number) {
    auto* n = number.number();
    if (!n)
        return {};
    return Value(platform::Date(n->doubleValue()));
}

Value ValueTransformer::NSTimeZoneFromNSString(const Value& string) {
    auto* text = string.string();
    if (!text)
        return {};
    auto zone = platform::TimeZone::timeZoneWithName(*text);
    if (!zone)
        return {};
    return Value(std::make_shared<TimeZoneObject>(std::move(zone)));
}

Value ValueTransformer::JSONObjectFromNSTimeZone(const Value& zone) {
    auto object = zone.objectAs<TimeZoneObject>();
    if (!object || !object->timeZone())
        return {};
    return Value(object->timeZone()->name());
}

// Some servers send an empty list where an object is expected; anything else is left for the
// caller's type check to refuse.
Value ValueTransformer::NSDictionaryFromNSArray(const Value& array) {
    if (auto* members = array.array(); members && members->empty())
        return Value(ValueDictionary{});
    return array;
}

Value ValueTransformer::NSMutableDictionaryFromNSArray(const Value& array) {
    return NSDictionaryFromNSArray(array);
}
