#pragma once
// CaptureButton: the broadcast screen's start/stop button. Its state is read as bits: 1 a start or stop
// was asked for and the session has not answered yet, 2 publishing runs (the stop look), 4 nothing is
// published (the start look). Setting exactly 2 or 4 shows that look and makes the button usable; any
// other value shows the changing look and makes it unusable, so after a press (3 or 5) the button
// waits for the session. Main thread only.

#include "platform/graphics/Color.h"
#include "platform/graphics/Image.h"
#include "platform/ui/UIButton.h"

#include <cstdint>
#include <memory>

class CaptureButton : public platform::UIButton {
public:
    static std::shared_ptr<CaptureButton> create() { return std::make_shared<CaptureButton>(); }

    int64_t captureState() const { return m_captureState; }
    void setCaptureState(int64_t captureState);
    // captureState |= 1.
    void userPressed();
    bool hasUserPressed() const { return hasCaptureState(1); }
    bool hasCaptureState(int64_t mask) const { return (m_captureState & mask) == mask; }

    void stopLiveLook();  // red, "停止直播"
    void startLiveLook(); // green, "开始直播"
    void changingLook();  // grey, "连接中"

    static platform::UIImagePtr imageWithColor(const platform::UIColorPtr& color, platform::CGSize size);

private:
    void showLook(const platform::UIColorPtr& color, const char* titleKey);

    int64_t m_captureState{0};
};
