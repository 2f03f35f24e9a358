#pragma once
// UIImageView: shows an image (or its highlighted image while highlighted) through its layer's contents,
// placed by the content mode. An animated UIImage shows its first frame; animationImages play in turn on
// the main run loop while animating (startAnimating), one frame every animationDuration / frames seconds by
// Clock::current() (1/30 s per frame when the duration is 0), animationRepeatCount times (0: until
// stopped); stopping shows the still image again. Initialising with an image sizes the view to it. User
// interaction is off by default. Main thread only.

#include "platform/graphics/Image.h"
#include "platform/ui/UIView.h"

#include <memory>
#include <vector>

namespace platform {

class Timer;
class UIImageView;
using UIImageViewPtr = std::shared_ptr<UIImageView>;

class UIImageView : public UIView {
public:
    static UIImageViewPtr create() { return std::make_shared<UIImageView>(); }
    static UIImageViewPtr create(CGRect frame) { return std::make_shared<UIImageView>(frame); }
    static UIImageViewPtr create(UIImagePtr image) { return std::make_shared<UIImageView>(std::move(image)); }
    UIImageView();
    explicit UIImageView(CGRect frame);
    explicit UIImageView(UIImagePtr image);
    UIImageView(UIImagePtr image, UIImagePtr highlightedImage);
    ~UIImageView() override;

    UIImagePtr image() const { return m_image; }
    virtual void setImage(UIImagePtr image);
    UIImagePtr highlightedImage() const { return m_highlightedImage; }
    void setHighlightedImage(UIImagePtr image);
    bool isHighlighted() const { return m_highlighted; }
    void setHighlighted(bool highlighted);
    void setContentMode(UIViewContentMode mode) override;

    const std::vector<UIImagePtr>& animationImages() const { return m_animationImages; }
    void setAnimationImages(std::vector<UIImagePtr> images);
    double animationDuration() const { return m_animationDuration; }
    void setAnimationDuration(double duration) { m_animationDuration = duration; }
    int64_t animationRepeatCount() const { return m_animationRepeatCount; }
    void setAnimationRepeatCount(int64_t count) { m_animationRepeatCount = count; }
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return m_animating; }
    // The frame shown while animating (an index into animationImages).
    size_t currentAnimationFrame() const { return m_frame; }

    CGSize sizeThatFits(CGSize size) override;
    CGSize intrinsicContentSize() override;

private:
    void updateContents();
    void advanceFrame();

    UIImagePtr m_image;
    UIImagePtr m_highlightedImage;
    bool m_highlighted{false};
    std::vector<UIImagePtr> m_animationImages;
    double m_animationDuration{0};
    int64_t m_animationRepeatCount{0};
    bool m_animating{false};
    size_t m_frame{0};
    int64_t m_cyclesDone{0};
    std::shared_ptr<Timer> m_timer;
};

} // namespace platform
