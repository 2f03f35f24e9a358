#pragma once
// KelBarProgressView: progress as a horizontal capsule filling from the left. Its outline is drawn in
// lineColor over progressRemainingColor, the filled part in progressColor. Clear and not opaque;
// 120 x 20 points by default. Any change of its properties redraws it. Main thread only.

#include "app/ui/KelProgressIndicator.h"
#include "platform/graphics/Color.h"
#include "platform/ui/UIView.h"

class KelBarProgressView : public platform::UIView, public KelProgressIndicator {
public:
    KelBarProgressView();
    explicit KelBarProgressView(platform::CGRect frame);

    float progress() const override { return m_progress; }
    void setProgress(float progress) override;
    // White, clear, white.
    const platform::UIColorPtr& lineColor() const { return m_lineColor; }
    void setLineColor(platform::UIColorPtr color);
    const platform::UIColorPtr& progressRemainingColor() const { return m_progressRemainingColor; }
    void setProgressRemainingColor(platform::UIColorPtr color);
    const platform::UIColorPtr& progressColor() const { return m_progressColor; }
    void setProgressColor(platform::UIColorPtr color);

    void drawRect(platform::CGRect rect) override;

private:
    float m_progress{0};
    platform::UIColorPtr m_lineColor;
    platform::UIColorPtr m_progressRemainingColor;
    platform::UIColorPtr m_progressColor;
};
