#pragma once
// UIButton: a control that shows a title, an image and a background image chosen by its state. Each look
// is set per control state; a state without its own value shows the normal state's. The title lives in a
// real UILabel (titleLabel) and the image in a UIImageView (imageView), placed in layoutSubviews by
// titleRectForContentRect / imageRectForContentRect (override them to move them), so a window renders a
// button as it renders any labels and image views. The three subviews are in the tree only while they
// have something to show, background below image below title. Main thread only.

#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Image.h"
#include "platform/ui/UIControl.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class UILabel;
class UIImageView;
class UIButton;
using UIButtonPtr = std::shared_ptr<UIButton>;

enum UIButtonType : int64_t {
    UIButtonTypeCustom = 0,
    UIButtonTypeSystem = 1,
    UIButtonTypeDetailDisclosure = 2,
    UIButtonTypeInfoLight = 3,
    UIButtonTypeInfoDark = 4,
    UIButtonTypeContactAdd = 5,
    UIButtonTypeRoundedRect = UIButtonTypeSystem,
};

class UIButton : public UIControl {
public:
    // buttonWithType:
    static UIButtonPtr buttonWithType(int64_t type);
    static UIButtonPtr create() { return std::make_shared<UIButton>(); }
    static UIButtonPtr create(CGRect frame) { return std::make_shared<UIButton>(frame); }
    UIButton(); // a custom button
    explicit UIButton(CGRect frame);
    ~UIButton() override;

    UIButtonType buttonType() const { return m_type; }

    void setTitle(std::optional<std::string> title, uint64_t state);
    std::optional<std::string> titleForState(uint64_t state) const;
    void setTitleColor(UIColorPtr color, uint64_t state);
    UIColorPtr titleColorForState(uint64_t state) const;
    void setTitleShadowColor(UIColorPtr color, uint64_t state);
    UIColorPtr titleShadowColorForState(uint64_t state) const;
    void setImage(UIImagePtr image, uint64_t state);
    UIImagePtr imageForState(uint64_t state) const;
    void setBackgroundImage(UIImagePtr image, uint64_t state);
    UIImagePtr backgroundImageForState(uint64_t state) const;
    void setAttributedTitle(NSAttributedStringPtr title, uint64_t state);
    NSAttributedStringPtr attributedTitleForState(uint64_t state) const;

    // The looks of the current state.
    std::optional<std::string> currentTitle() const { return titleForState(state()); }
    UIColorPtr currentTitleColor() const { return titleColorForState(state()); }
    UIImagePtr currentImage() const { return imageForState(state()); }
    UIImagePtr currentBackgroundImage() const { return backgroundImageForState(state()); }
    NSAttributedStringPtr currentAttributedTitle() const { return attributedTitleForState(state()); }

    std::shared_ptr<UILabel> titleLabel();
    std::shared_ptr<UIImageView> imageView();

    UIEdgeInsets contentEdgeInsets() const { return m_contentEdgeInsets; }
    void setContentEdgeInsets(UIEdgeInsets insets);
    UIEdgeInsets titleEdgeInsets() const { return m_titleEdgeInsets; }
    void setTitleEdgeInsets(UIEdgeInsets insets);
    UIEdgeInsets imageEdgeInsets() const { return m_imageEdgeInsets; }
    void setImageEdgeInsets(UIEdgeInsets insets);
    bool adjustsImageWhenHighlighted() const { return m_adjustsImageWhenHighlighted; }
    void setAdjustsImageWhenHighlighted(bool on) { m_adjustsImageWhenHighlighted = on; }
    bool adjustsImageWhenDisabled() const { return m_adjustsImageWhenDisabled; }
    void setAdjustsImageWhenDisabled(bool on) { m_adjustsImageWhenDisabled = on; }
    bool showsTouchWhenHighlighted() const { return m_showsTouchWhenHighlighted; }
    void setShowsTouchWhenHighlighted(bool on) { m_showsTouchWhenHighlighted = on; }

    // Geometry hooks, as on the platform.
    virtual CGRect backgroundRectForBounds(CGRect bounds);
    virtual CGRect contentRectForBounds(CGRect bounds);
    virtual CGRect titleRectForContentRect(CGRect contentRect);
    virtual CGRect imageRectForContentRect(CGRect contentRect);

    void layoutSubviews() override;
    CGSize sizeThatFits(CGSize size) override;
    CGSize intrinsicContentSize() override;
    void tintColorDidChange() override;

protected:
    void stateDidChange() override;

private:
    template <typename T> static T lookUp(const std::map<uint64_t, T>& table, uint64_t state);
    void updateContent();
    CGSize titleSize(double maxWidth);
    CGSize imageSize() const;
    CGRect place(CGRect contentRect, CGSize size, double leading, UIEdgeInsets insets) const;

    UIButtonType m_type{UIButtonTypeCustom};
    std::map<uint64_t, std::optional<std::string>> m_titles;
    std::map<uint64_t, UIColorPtr> m_titleColors;
    std::map<uint64_t, UIColorPtr> m_titleShadowColors;
    std::map<uint64_t, UIImagePtr> m_images;
    std::map<uint64_t, UIImagePtr> m_backgroundImages;
    std::map<uint64_t, NSAttributedStringPtr> m_attributedTitles;
    std::shared_ptr<UILabel> m_titleLabel;
    std::shared_ptr<UIImageView> m_imageView;
    std::shared_ptr<UIImageView> m_backgroundView;
    UIEdgeInsets m_contentEdgeInsets;
    UIEdgeInsets m_titleEdgeInsets;
    UIEdgeInsets m_imageEdgeInsets;
    bool m_adjustsImageWhenHighlighted{true};
    bool m_adjustsImageWhenDisabled{true};
    bool m_showsTouchWhenHighlighted{false};
};

} // namespace platform
