#pragma once
// KelRoundProgressView: progress as a pie (a filled disc with a sector growing clockwise from 12 o'clock)
// or, when annular, a ring. Clear and not opaque; 37 x 37 points by default. Any change of its properties
// redraws it. Main thread only.

#include "app/ui/KelProgressIndicator.h"
#include "platform/graphics/Color.h"
#include "platform/ui/UIView.h"

class KelRoundProgressView : public platform::UIView, public KelProgressIndicator {
public:
    KelRoundProgressView();
    explicit KelRoundProgressView(platform::CGRect frame);

    float progress() const override { return m_progress; }
    void setProgress(float progress) override;
    // White, and white at alpha 0.1.
    const platform::UIColorPtr& progressTintColor() const { return m_progressTintColor; }
    void setProgressTintColor(platform::UIColorPtr color);
    const platform::UIColorPtr& backgroundTintColor() const { return m_backgroundTintColor; }
    void setBackgroundTintColor(platform::UIColorPtr color);
    bool isAnnular() const { return m_annular; }
    void setAnnular(bool annular);

    void drawRect(platform::CGRect rect) override;

private:
    void drawRing(const platform::CGContextRef& context, platform::CGSize size);
    void drawPie(const platform::CGContextRef& context, platform::CGSize size);

    float m_progress{0};
    platform::UIColorPtr m_progressTintColor;
    platform::UIColorPtr m_backgroundTintColor;
    bool m_annular{false};
};
