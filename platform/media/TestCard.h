#pragma once
// What the cameras of this machine see: a test card drawn for each frame, since no sensor is here.
// Colour bars along the top edge (so an upright picture is told from a turned one), the camera's name
// ("BACK CAMERA" on grey, "FRONT CAMERA" on blue), a bar sweeping across every two seconds, a running
// timecode HH:MM:SS:FF of the capture time, and a white square in the middle of the lower half that
// lights for the first 100 ms of each whole second of the clock (the microphone beeps at the same
// moments). The name and the timecode stay inside the card's middle 9:16, shrunk when they must be, so
// a portrait stream's crop of a landscape card shows them whole. The torch brightens the whole picture;
// zoom enlarges it about its centre.
//
// Not thread-safe: each camera draws its own cards on its own thread.

#include "platform/foundation/Clock.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/media/PixelBuffer.h"

#include <map>
#include <utility>

namespace platform {

class TestCard {
public:
    struct Look {
        bool front{false};
        bool torch{false};
        double zoom{1.0};
    };

    // The marker lights for the first `markerSeconds` of each whole second of the clock (the moments
    // the microphone beeps).
    static constexpr double markerSeconds = 0.1;
    static double secondsOf(MonoTime time);
    static bool isFlashTime(MonoTime time);
    // The marker's square within a card of this size (top-left origin).
    static CGRect flashRect(int width, int height);
    // The height of the colour-bar band along the top edge.
    static int barsHeight(int height) { return height / 6; }
    // Seven bars of three quarters' intensity across the rectangle (top-left origin): grey, yellow,
    // cyan, green, magenta, red, blue.
    static void drawColourBars(const CGContextRef& context, CGRect rect);

    // A new frame of width x height for the capture `time`; `frameRate` numbers the frames of a second.
    CVPixelBufferRef draw(int width, int height, MonoTime time, int frameRate, Look look);

private:
    CGImageRef background(int width, int height, bool front);

    std::map<std::tuple<int, int, bool>, CGImageRef> m_backgrounds;
};

} // namespace platform
