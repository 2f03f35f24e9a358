#pragma once
// The view that shows the session's processed camera picture: the latest frame of the video road, as
// the stream carries it, scaled to fit the view with its proportions kept (black around it). The caller places it in its own view hierarchy
// and sizes it. The front camera's picture is shown mirrored, as a mirror would show the streamer,
// through the view's layer transform; the stream itself is never mirrored. Before the first frame (or
// on a machine without a camera) it shows colour bars.
//
// Threads: showFrame() may come from any thread (the road's); it asks for a redraw on the main queue.
// Everything else is main-thread only.

#include "platform/media/PixelBuffer.h"
#include "platform/ui/UIView.h"

#include <atomic>
#include <memory>
#include <mutex>

class LivePreviewView final : public platform::UIView {
public:
    static std::shared_ptr<LivePreviewView> create() { return std::make_shared<LivePreviewView>(); }
    LivePreviewView();

    bool isMirrored() const { return m_mirrored; }
    void setMirrored(bool mirrored);
    void drawRect(platform::CGRect rect) override;

    void showFrame(platform::CVPixelBufferRef frame);
    platform::CVPixelBufferRef currentFrame() const;

private:
    bool m_mirrored{false};
    mutable std::mutex m_mutex;
    platform::CVPixelBufferRef m_frame;
    std::atomic<bool> m_redrawAsked{false};
};
