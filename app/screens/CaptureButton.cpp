#include "app/screens/CaptureButton.h"

#include "app/screens/LocalizedText.h"
#include "app/ui/UIImage+Color.h"

using namespace platform;

void CaptureButton::setCaptureState(int64_t captureState) {
    m_captureState = captureState;
    if (captureState == 2)
        stopLiveLook();
    else if (captureState == 4)
        startLiveLook();
    else
        changingLook();
    setUserInteractionEnabled(captureState == 2 || captureState == 4);
}

void CaptureButton::userPressed() {
    setCaptureState(m_captureState | 1);
}

void CaptureButton::stopLiveLook() {
    showLook(UIColor::colorWithRed(1.0, 76 / 255.0, 52 / 255.0, 1), "停止直播");
}

void CaptureButton::startLiveLook() {
    showLook(UIColor::colorWithRed(0, 186 / 255.0, 17 / 255.0, 1), "开始直播");
}

void CaptureButton::changingLook() {
    showLook(UIColor::colorWithRed(0.4, 0.4, 0.4, 1), "连接中");
}

UIImagePtr CaptureButton::imageWithColor(const UIColorPtr& color, CGSize size) {
    return ::imageWithColor(color, size);
}

void CaptureButton::showLook(const UIColorPtr& color, const char* titleKey) {
    setBackgroundImage(imageWithColor(color, CGSizeMake(1, 1)), UIControlStateNormal);
    setTitle(detail::localizedText(titleKey), UIControlStateNormal);
    setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
}
