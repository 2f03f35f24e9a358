#pragma once
// Small helpers of the library: joining key paths, UTC milliseconds, character checks, trimming,
// Base64, the collector's settings and the experiments it pushes. Any thread.

#include "platform/foundation/Data.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class UAHelper {
public:
    // The first item when not empty, then "!" and each later item that is not empty: ("a", "", "b")
    // gives "a!b", ("", "b") gives "!b".
    static std::string arrayToAgStr(const std::vector<std::string>& items);
    static uint64_t UTCTimeIntervalMS();
    // A non-empty text whose every UTF-16 unit is above 47 (no control character, space or "!" to "/").
    static bool checkU48Character(std::string_view text);
    // At most `length` UTF-8 bytes, cut between whole characters.
    static std::string trimUTF8String(std::string_view text, int64_t length);
    static std::string encodeBase64(const platform::Data& data);
    static std::optional<std::string> imprintValueWithKey(std::string_view key);
    // The imprint's "country" when it has one (YES unless "cn"), else UANUtil::isOverSeas.
    static bool checkIsOverseas();
    // A number in [0, 1) from five bytes of the installation signature at `index`; 0 without one.
    static double calcProbWithSigIndex(int32_t index);
    // Applies an experiment description "method|weights|test|threshold|key|values".
    static void configureExperimentWithString(std::string_view text);
};

// A debugging description of a mutable array: "<retain count,count,address>," and "[address--hash] " of
// every element.
std::string description(const platform::ValueArray& array);
