#pragma once
// The named conversions that model import and export share. Import asks for "<Target>From<Source>:"
// (NSStringFromNSNumber:), export for "JSONObjectFrom<Class>:"; a name that starts with "__" is a
// hidden conversion, reached only when a caller retries with "__" in front. Conversions live in one
// process-wide table: every instance answers from it, and registerConversion() adds or replaces one
// for the whole process (a program's own conversions), so MappedModel can keep a single instance.
//
// Promises: a conversion never throws; one that cannot convert answers nil. Lookups and conversions
// are safe from any thread at once; registration may race lookups safely too. The two date formatters
// are made once, on first use, in the local time zone. Not offered: removing a built-in conversion.

#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/TimeZone.h"
#include "platform/foundation/Value.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class ValueTransformer : public platform::Object {
public:
    using Conversion = std::function<platform::Value(const platform::Value&)>;

    // A time zone as a Value can hold it (class name "NSTimeZone").
    class TimeZoneObject final : public platform::Object {
    public:
        explicit TimeZoneObject(platform::TimeZonePtr zone)
            : m_zone(std::move(zone)) {}
        const platform::TimeZonePtr& timeZone() const { return m_zone; }
        std::string description() const override;

    private:
        platform::TimeZonePtr m_zone;
    };

    // Also registers the classes the conversions hand out (NSTimeZone) with the class registry.
    ValueTransformer();

    // Type code of the runtime's attribute text ("q", "B", "@?") to primitive name ("long", "BOOL", "Block").
    const std::map<std::string, std::string, std::less<>>& primitivesNames() const;
    std::optional<std::string> primitiveName(std::string_view code) const;

    // The public class whose name conversion names use: NSString, NSNumber (decimals too), NSArray,
    // NSDictionary, NSDate; any other class unchanged. The OfValue form names the value's class first
    // (NSNull, NSURL, NSData, NSSet, or an object's class name; "" for nil).
    static std::string classByResolvingClusterClasses(std::string_view className);
    static std::string classByResolvingClusterClassesOfValue(const platform::Value& value);

    // Lookup by the conversion's full name, colon included ("NSStringFromNSNumber:").
    bool responds(std::string_view name) const;
    bool respondsTo(std::string_view selector) const override { return responds(selector); }
    std::optional<Conversion> conversion(std::string_view name) const;
    // Runs the named conversion; nil when there is none.
    platform::Value transform(std::string_view name, const platform::Value& value) const;

    static void registerConversion(std::string name, Conversion conversion);

    // Reads dates as "yyyy-MM-dd'T'HHmmssZZZ" (import strips every ":" first); writes them as
    // "yyyy-MM-dd'T'HH:mm:ssZZZ". Both en_US_POSIX, local zone, shared.
    static const platform::DateFormatter& importDateFormatter();
    static const platform::DateFormatter& exportDateFormatter();

    // The built-in conversions, callable directly. Each is also in the table under its name with a
    // trailing ":"; the hidden ones under "__" + name.
    static platform::Value NSMutableStringFromNSString(const platform::Value& string);
    static platform::Value NSMutableArrayFromNSArray(const platform::Value& array);
    static platform::Value NSArrayFromMappedModelArray(const platform::Value& array);
    static platform::Value NSMutableArrayFromMappedModelArray(const platform::Value& array);
    static platform::Value NSMutableDictionaryFromNSDictionary(const platform::Value& dictionary);
    static platform::Value NSSetFromNSArray(const platform::Value& array);
    static platform::Value NSMutableSetFromNSArray(const platform::Value& array);
    static platform::Value JSONObjectFromNSSet(const platform::Value& set);
    static platform::Value JSONObjectFromNSMutableSet(const platform::Value& set);
    static platform::Value BOOLFromNSNumber(const platform::Value& number);
    static platform::Value BOOLFromNSString(const platform::Value& string);
    static platform::Value JSONObjectFromBOOL(const platform::Value& number);
    static float floatFromObject(const platform::Value& value);
    static float floatFromNSString(const platform::Value& string) { return floatFromObject(string); }
    static float floatFromNSNumber(const platform::Value& number) { return floatFromObject(number); }
    static platform::Value NSNumberFromfloat(float value);
    // Integral texts read exactly (signed, then unsigned 64-bit); any other text as a double.
    static platform::Value NSNumberFromNSString(const platform::Value& string);
    static platform::Value NSStringFromNSNumber(const platform::Value& number);
    static platform::Value NSDecimalNumberFromNSString(const platform::Value& string);
    static platform::Value NSStringFromNSDecimalNumber(const platform::Value& number);
    static platform::Value NSURLFromNSString(const platform::Value& string);
    static platform::Value JSONObjectFromNSURL(const platform::Value& url);
    static platform::Value NSDateFromNSString(const platform::Value& string); // hidden
    static platform::Value JSONObjectFromNSDate(const platform::Value& date); // hidden
    static platform::Value NSDateFromNSNumber(const platform::Value& number);
    static platform::Value NSTimeZoneFromNSString(const platform::Value& string);
    static platform::Value JSONObjectFromNSTimeZone(const platform::Value& zone);
    static platform::Value NSDictionaryFromNSArray(const platform::Value& array);        // hidden
    static platform::Value NSMutableDictionaryFromNSArray(const platform::Value& array); // hidden
};
