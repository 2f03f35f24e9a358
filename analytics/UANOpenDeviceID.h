#pragma once
// An identifier that every cooperating application on the device answers alike: 40 lowercase
// hexadecimal characters, made by the first application that needs it and copied into up to 100
// shared, persistent named pasteboards ("org.OpenDeviceID.slot.0" to ".99"); later applications adopt
// the identifier most copies hold. Each application keeps its own record in its user defaults under
// "OpenDeviceID". Computed once per process and cached until setOptOut. Errors (domain
// "org.OpenDeviceID", the text under "description"): 0 retrieved, 1 opted out (the identifier is forty
// zeros), 2 the stored identifier differs from the copies. Any thread.

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/ui/UIPasteboard.h"

#include <memory>
#include <string>

class UANOpenDeviceID {
public:
    static std::string value();
    static std::string valueWithError(platform::ErrorPtr* error);
    static void setOptOut(bool optOut);

    static std::string _generateFreshOpenDeviceID();
    // The archived record on the pasteboard; an empty map when there is none or it does not read.
    static platform::ValueDictionary _getDictFromPasteboard(const platform::UIPasteboardPtr& pasteboard);
    static void _setDict(const platform::ValueDictionary& dict, const platform::UIPasteboardPtr& pasteboard);
};
