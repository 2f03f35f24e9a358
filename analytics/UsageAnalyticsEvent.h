#pragma once
// The recording calls: each checks the caller's arguments, builds a record and hands it to the
// pipeline (UAWorkDispatch). Refused arguments never raise: they are dropped, or replaced by a marker
// ("__cc"/"illegal", "__illegal") or cut, with the messages printed always; empty texts and
// dictionaries count as none. Any thread.

#include "platform/foundation/Value.h"

#include <cstdint>
#include <string>
#include <vector>

class UsageAnalyticsEvent {
public:
    // Not empty, at most 128 UTF-8 bytes and not only white space.
    static bool validEventID(const std::string& eventId);

    // Sent only below two hours.
    static void eventJob(const std::string& eventId, const std::string& label, int64_t acc, int64_t du);
    static void event(const std::string& eventId);
    static void event(const std::string& eventId, const std::string& label);
    static void eventAcc(const std::string& eventId, int64_t acc);
    static void eventLabelAcc(const std::string& eventId, const std::string& label, int64_t acc);
    static void eventDurations(const std::string& eventId, int32_t milliseconds);
    static void eventLabelDurations(const std::string& eventId, const std::string& label,
                                    int32_t milliseconds);

    static void beginEvent(const std::string& eventId);
    static void endEvent(const std::string& eventId);
    static void beginEvent(const std::string& eventId, const std::string& label);
    static void endEventLabel(const std::string& eventId, const std::string& label);
    static void beginEvent(const std::string& eventId, const std::string& primaryKey,
                           const platform::ValueDictionary& attributes);
    static void endEventPrimarykey(const std::string& eventId, const std::string& primaryKey);

    // At most 10 attributes (and "__ct__") are kept.
    static void event(const std::string& eventId, const platform::ValueDictionary& attributes);
    static void eventAttributesDurations(const std::string& eventId,
                                         const platform::ValueDictionary& attributes, int32_t milliseconds);
    static void gameEvent(const std::string& eventId, const platform::ValueDictionary& attributes);
    static void gameEvent(const std::string& eventId, const platform::ValueDictionary& attributes,
                          int32_t milliseconds);

    // A computed event: a key path of at most 8 elements of at most 16 characters each.
    static void event(const std::vector<std::string>& keyPath, int32_t value, const std::string& label);

    static void logPageView(const std::string& pageName, int32_t seconds);
    static void beginLogPageView(const std::string& pageName);
    static void endLogPageView(const std::string& pageName);
};
