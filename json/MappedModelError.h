#pragma once
// The errors of model mapping: platform errors in "MappedModelErrorDomain" with codes 1 to 5, the
// failing key path under "kMappedModelKeyPath". The platform's error class is closed to subclasses,
// so what sets a MappedModelError apart (the HTTP response and the raw reply bytes that the JSON HTTP
// client attaches) lives in the error object's associated objects; every error made here carries
// the mark, and isMappedModelError() tells them from other errors. Errors are immutable once made.

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* MappedModelErrorDomain = "MappedModelErrorDomain";
inline constexpr const char* kMappedModelMissingKeys = "kMappedModelMissingKeys";
inline constexpr const char* kMappedModelTypeMismatch = "kMappedModelTypeMismatch";
inline constexpr const char* kMappedModelKeyPath = "kMappedModelKeyPath";

enum MappedModelErrorCode : int64_t {
    MappedModelErrorInvalidData = 1,
    MappedModelErrorBadResponse = 2,
    MappedModelErrorBadJSON = 3,
    MappedModelErrorModelIsInvalid = 4,
    MappedModelErrorInputIsNil = 5,
};

class MappedModelError {
public:
    static platform::ErrorPtr errorInvalidDataWithMessage(std::string_view message);
    static platform::ErrorPtr errorInvalidDataWithMissingKeys(const std::vector<std::string>& keys);
    static platform::ErrorPtr errorInvalidDataWithTypeMismatch(std::string_view mismatch);
    static platform::ErrorPtr errorBadResponse();
    static platform::ErrorPtr errorBadJSON();
    static platform::ErrorPtr errorModelIsInvalid();
    static platform::ErrorPtr errorInputIsNil();

    // errorWithDomain:code:userInfo: (a transport error rewrapped keeps its domain and code).
    static platform::ErrorPtr errorWithDomain(std::string domain, int64_t code,
                                              platform::Value userInfo = {});

    // A new error, same domain, code and user info, with `component` put in front of the key path:
    // "rooms" before "[2]" gives "rooms[2]", "room" before "title" gives "room.title". The HTTP
    // response and reply bytes are not carried over.
    static platform::ErrorPtr errorByPrependingKeyPathComponent(const platform::ErrorPtr& error,
                                                                std::string_view component);

    // A copy of `error` (same domain, code, user info) carrying an HTTP response and reply bytes.
    static platform::ErrorPtr errorWithResponse(const platform::ErrorPtr& error,
                                                platform::ObjectPtr httpResponse,
                                                platform::Value responseData);

    static bool isMappedModelError(const platform::ErrorPtr& error);
    static platform::ObjectPtr httpResponse(const platform::ErrorPtr& error); // null when none
    static platform::Value responseData(const platform::ErrorPtr& error);     // nil when none
};
