#pragma once
// UIViewController(Tools): status-bar helpers, colour comparison, content rectangles and a main-queue
// delay. The status-bar style follows the bar colour's lightness: light colours (null among them) ask
// for dark content (0), dark ones for light content (1). Main thread only, except delaySeconds, whose
// block runs on the main queue whatever thread asked.

#include "platform/graphics/Color.h"
#include "platform/graphics/Geometry.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIViewController.h"

#include <functional>
#include <string>

platform::UIStatusBarStyle statusBarStyle(const platform::UIViewController& controller);
// Application-wide, without animation.
void setStatusBarHidden(platform::UIViewController& controller, bool hidden);

// YES for null; for red, green and blue all above 176/255 (in single precision); NO when any of them is
// 1; else YES only when the alpha is below 1 (a clear colour), NO for an opaque dark colour.
bool isLightContentColor(const platform::UIViewController& controller, const platform::UIColorPtr& color);
// The application's status-bar style becomes 0 for a light colour, else 1.
void adjustStatusBarStyleToFitColor(platform::UIViewController& controller,
                                    const platform::UIColorPtr& color);
// isColor:sameToColor: the four components exactly equal. A null colour is the same only as another null
// colour, so a real colour always differs from a missing one.
bool isColor(const platform::UIViewController& controller, const platform::UIColorPtr& color,
             const platform::UIColorPtr& otherColor);
// YES when the colour differs from the controller's navigationBarColor.
bool shouldAdjustStatusBarStyleToColor(const platform::UIViewController& controller,
                                       const platform::UIColorPtr& color);
// When the colour differs from the bar colour, the style follows it 0.55 s later when animated, on the
// next main-queue turn when not; the block keeps the controller and the colour alive until then.
void adjustStatusBarStyleToColor(platform::UIViewController& controller, const platform::UIColorPtr& color,
                                 bool animated);
// Runs the block on the main queue after the delay (in single precision, truncated to whole nanoseconds).
void delaySeconds(platform::UIViewController& controller, float seconds, std::function<void()> block);

// The bounds of the controller's view.
platform::CGRect scrollViewSubviewRect(platform::UIViewController& controller);
// The screen below the status bar and the navigation bar and above the tab bar.
platform::CGRect nonScrollViewSubviewRect(platform::UIViewController& controller);
// The user's documents folder.
std::string systemDocumentFolder(const platform::UIViewController& controller);
