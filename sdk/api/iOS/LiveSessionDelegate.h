#pragma once
// What a LiveSimpleSession tells the object that drives it. The only method is optional: the session
// calls it only when respondsTo("connectionStatusChanged:") answers true, always on the main queue.

#include "platform/foundation/Object.h"
#include "sdk/api/iOS/LiveTypes.h"

class LiveSessionDelegate : public platform::Object {
public:
    // connectionStatusChanged: — after every change of the session's state, with the new state.
    virtual void connectionStatusChanged(LiveSessionState sessionState);
};
