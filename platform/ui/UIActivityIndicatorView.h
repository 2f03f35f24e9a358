#pragma once
// UIActivityIndicatorView: the spinner shown while something loads. It is visible only while animating
// when hidesWhenStopped is on (the default): startAnimating shows it, stopAnimating hides it. Its size
// comes from the style (37 points for the large white style, 20 for the others), and a colour set on it
// overrides the style's colour. The spinning itself is not drawn headless; the spokes are, in the colour.
// Main thread only.

#include "platform/graphics/Color.h"
#include "platform/ui/UIView.h"

#include <cstdint>
#include <memory>

namespace platform {

enum UIActivityIndicatorViewStyle : int64_t {
    UIActivityIndicatorViewStyleWhiteLarge = 0,
    UIActivityIndicatorViewStyleWhite = 1,
    UIActivityIndicatorViewStyleGray = 2,
};

class UIActivityIndicatorView;
using UIActivityIndicatorViewPtr = std::shared_ptr<UIActivityIndicatorView>;

class UIActivityIndicatorView : public UIView {
public:
    static UIActivityIndicatorViewPtr create(int64_t style = UIActivityIndicatorViewStyleWhite) {
        return std::make_shared<UIActivityIndicatorView>(style);
    }
    static UIActivityIndicatorViewPtr create(CGRect frame) {
        return std::make_shared<UIActivityIndicatorView>(frame);
    }
    explicit UIActivityIndicatorView(int64_t style = UIActivityIndicatorViewStyleWhite);
    explicit UIActivityIndicatorView(CGRect frame);

    UIActivityIndicatorViewStyle activityIndicatorViewStyle() const { return m_style; }
    void setActivityIndicatorViewStyle(int64_t style);
    UIColorPtr color() const;
    void setColor(UIColorPtr color);
    bool hidesWhenStopped() const { return m_hidesWhenStopped; }
    void setHidesWhenStopped(bool hides);

    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return m_animating; }

    CGSize intrinsicContentSize() override;
    CGSize sizeThatFits(CGSize) override { return intrinsicContentSize(); }
    void drawRect(CGRect rect) override;

private:
    UIActivityIndicatorViewStyle m_style{UIActivityIndicatorViewStyleWhite};
    UIColorPtr m_color;
    bool m_hidesWhenStopped{true};
    bool m_animating{false};
};

} // namespace platform
