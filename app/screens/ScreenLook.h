#pragma once
// What the login and home screens' widgets share: colours given as 8-bit red, green and blue, opaque;
// and the version line at the foot of both screens ("v" and the bundle's short version, grey 206, system
// 13, centred, on a clear background). Main thread only.

#include "platform/graphics/Color.h"
#include "platform/ui/UILabel.h"

inline platform::UIColorPtr colorWithRGB(int red, int green, int blue) {
    return platform::UIColor::colorWithRed(red / 255.0, green / 255.0, blue / 255.0, 1);
}

// A label of the given colour and system font size on a clear background, its text aligned as given.
platform::UILabelPtr makeLabel(platform::UIColorPtr color, double fontSize,
                               platform::NSTextAlignment alignment);

platform::UILabelPtr makeVersionLabel();
