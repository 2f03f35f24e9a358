#pragma once
// The streaming session's value types, numbered as the broadcast screen expects them.

#include <cstdint>

// The session's publishing state, reported through LiveSessionDelegate::connectionStatusChanged.
enum LiveSessionState : int64_t {
    LiveSessionStateNone = 0,
    LiveSessionStatePreviewStarted = 1,
    LiveSessionStateStarting = 2,
    LiveSessionStateStarted = 3,
    LiveSessionStateEnded = 4,
    LiveSessionStateError = 5,
};

enum LiveCameraState : int64_t {
    LiveCameraStateFront = 0,
    LiveCameraStateBack = 1,
};

// How the camera picture is fitted into the output size.
enum LiveAspectMode : int64_t {
    LiveAspectModeFit = 0,
    LiveAspectModeFill = 1,
    LiveAspectModeStretch = 2,
};
