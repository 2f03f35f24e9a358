#include "sdk/api/iOS/LiveSessionDelegate.h"

void LiveSessionDelegate::connectionStatusChanged(LiveSessionState) {}
