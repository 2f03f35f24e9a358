#pragma once
// The view that shows the session's processed camera picture. The caller places it in its own view
// hierarchy and sizes it. The front camera's picture is shown mirrored, as a mirror would show the
// streamer, through the view's layer transform; the stream itself is never mirrored. No camera picture
// reaches this machine's screen, so the view draws a still test card of colour bars where it would be.
// Main thread only.

#include "platform/ui/UIView.h"

#include <memory>

class LivePreviewView final : public platform::UIView {
public:
    static std::shared_ptr<LivePreviewView> create() { return std::make_shared<LivePreviewView>(); }
    LivePreviewView();

    bool isMirrored() const { return m_mirrored; }
    void setMirrored(bool mirrored);
    void drawRect(platform::CGRect rect) override;

private:
    bool m_mirrored{false};
};
