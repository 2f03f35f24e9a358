#pragma once
// KelProgressHUD: the translucent overlay that shows work under way or flashes a message. It covers its
// host view and draws a rounded dark box in the middle holding an indicator (spinner, pie, bar, ring, a
// caller's view, or none), a one-line label and a multi-line details label.
//
// Showing fades (or zooms) in over 0.3 s; a grace time holds the showing back for tracked work, and shows
// only if the work is still running when it ends; a minimum show time keeps a shown HUD up that long.
// Hiding runs the completion block once, then tells the delegate. Tracked work runs off the main thread
// (a thread of its own, or a dispatch queue) and hides the HUD when it returns; the HUD stays alive until
// then. Properties may be set from any thread (the work's progress, texts, mode): each is read and
// written whole, and the views follow on the main thread. Everything else: main thread only.
//
//     auto hud = KelProgressHUD::showHUDAddedTo(view, true);
//     hud->setMode(HUDModeBar);
//     ... hud->setProgress(0.5f) from the work ...
//     KelProgressHUD::hideHUDForView(view, true);

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/AtomicProperty.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/graphics/Font.h"
#include "platform/runloop/Timer.h"
#include "platform/ui/Selector.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum HUDMode : int64_t {
    HUDModeSpinner = 0,    // a small white activity indicator
    HUDModePie = 1,        // a KelRoundProgressView
    HUDModeBar = 2,        // a KelBarProgressView
    HUDModeRing = 3,       // an annular KelRoundProgressView
    HUDModeCustomView = 4, // customView
    HUDModeText = 5,       // the labels only
};

enum HUDAnimation : int64_t {
    HUDAnimationFade = 0,   // alpha only
    HUDAnimationShrink = 1, // shown from a scale of 1.5, hidden towards 0.5
    HUDAnimationGrow = 2,   // shown from 0.5, hidden towards 1.5
};

class KelProgressHUD;
using KelProgressHUDPtr = std::shared_ptr<KelProgressHUD>;

// Optional hudWasHidden: sent only when respondsTo("hudWasHidden:") says so.
class KelProgressHUDDelegate : public platform::Object {
public:
    virtual void hudWasHidden(KelProgressHUD* hud);
};

class KelProgressHUD : public platform::UIView {
    struct Token {
        explicit Token() = default;
    };

public:
    using Block = std::function<void()>;

    // A new HUD over the view, removed from it when hidden, added and shown.
    static KelProgressHUDPtr showHUDAddedTo(const platform::UIViewPtr& view, bool animated);
    // The view's last direct subview that is a HUD, or null; all of them in subview order.
    static KelProgressHUDPtr HUDForView(const platform::UIViewPtr& view);
    static std::vector<KelProgressHUDPtr> allHUDsForView(const platform::UIViewPtr& view);
    // Hide that last HUD (or all of them), each removing itself when hidden; answer whether one was there
    // (how many).
    static bool hideHUDForView(const platform::UIViewPtr& view, bool animated);
    static uint64_t hideAllHUDsForView(const platform::UIViewPtr& view, bool animated);

    // initWithFrame:, and initWithView: / initWithWindow: (the host's bounds; the caller adds it). The HUD
    // starts hidden (alpha 0).
    static KelProgressHUDPtr create(platform::CGRect frame);
    static KelProgressHUDPtr create(const platform::UIViewPtr& view);
    KelProgressHUD(Token, platform::CGRect frame);
    ~KelProgressHUD() override;

    void show(bool animated);
    void hide(bool animated);
    // hide:afterDelay: a later show or hide completion cancels it.
    void hide(bool animated, double delay);
    // showWhileExecuting:onTarget:withObject:animated: sends the action to the target, with the object as
    // its sender, on a new thread.
    void showWhileExecuting(platform::Selector method, platform::ObjectPtr target, platform::ObjectPtr object,
                            bool animated);
    // showAnimated:whileExecutingBlock:[onQueue:][completionBlock:]; without a queue (or with a null one)
    // the global queue of default priority runs the block.
    void showAnimated(bool animated, Block block);
    void showAnimated(bool animated, Block block, Block completion);
    void showAnimated(bool animated, Block block, std::shared_ptr<platform::DispatchQueue> queue);
    void showAnimated(bool animated, Block block, std::shared_ptr<platform::DispatchQueue> queue,
                      Block completion);
    // Tracked work that is only a wait: a main-loop timer ends it after `seconds`, so no thread sleeps
    // through it. What the loading and prompt overlays use.
    void showAnimatedWhileWaiting(bool animated, double seconds, Block completion);

    int64_t mode() const { return m_mode.get(); }
    void setMode(int64_t mode);
    int64_t animationType() const { return m_animationType.get(); }
    void setAnimationType(int64_t type) { m_animationType.set(type); }
    platform::UIViewPtr customView() const { return m_customView.get(); }
    void setCustomView(platform::UIViewPtr view);
    std::shared_ptr<KelProgressHUDDelegate> delegate() const { return m_delegate.get().lock(); }
    void setDelegate(const std::shared_ptr<KelProgressHUDDelegate>& delegate) { m_delegate.set(delegate); }
    std::optional<std::string> labelText() const { return m_labelText.get(); }
    void setLabelText(std::optional<std::string> text);
    std::optional<std::string> detailsLabelText() const { return m_detailsLabelText.get(); }
    void setDetailsLabelText(std::optional<std::string> text);
    // Alpha of the black box while color is null (0.8).
    float opacity() const { return m_opacity.get(); }
    void setOpacity(float opacity) { m_opacity.set(opacity); }
    platform::UIColorPtr color() const { return m_color.get(); }
    void setColor(platform::UIColorPtr color) { m_color.set(std::move(color)); }
    // Bold system 16 and white; bold system 12 and white; white.
    platform::UIFontPtr labelFont() const { return m_labelFont.get(); }
    void setLabelFont(platform::UIFontPtr font);
    platform::UIColorPtr labelColor() const { return m_labelColor.get(); }
    void setLabelColor(platform::UIColorPtr color);
    platform::UIFontPtr detailsLabelFont() const { return m_detailsLabelFont.get(); }
    void setDetailsLabelFont(platform::UIFontPtr font);
    platform::UIColorPtr detailsLabelColor() const { return m_detailsLabelColor.get(); }
    void setDetailsLabelColor(platform::UIColorPtr color);
    platform::UIColorPtr activityIndicatorColor() const { return m_activityIndicatorColor.get(); }
    void setActivityIndicatorColor(platform::UIColorPtr color);
    // The box's displacement from the centre, its inner margin (20) and its corner radius (10), in points.
    float xOffset() const { return m_xOffset.get(); }
    void setXOffset(float offset) { m_xOffset.set(offset); }
    float yOffset() const { return m_yOffset.get(); }
    void setYOffset(float offset) { m_yOffset.set(offset); }
    float margin() const { return m_margin.get(); }
    void setMargin(float margin) { m_margin.set(margin); }
    float cornerRadius() const { return m_cornerRadius.get(); }
    void setCornerRadius(float radius) { m_cornerRadius.set(radius); }
    platform::CGSize minSize() const { return m_minSize.get(); }
    void setMinSize(platform::CGSize size) { m_minSize.set(size); }
    bool isSquare() const { return m_square.get(); }
    void setSquare(bool square) { m_square.set(square); }
    bool dimBackground() const { return m_dimBackground.get(); }
    void setDimBackground(bool dim) { m_dimBackground.set(dim); }
    // Seconds.
    float graceTime() const { return m_graceTime.get(); }
    void setGraceTime(float seconds) { m_graceTime.set(seconds); }
    float minShowTime() const { return m_minShowTime.get(); }
    void setMinShowTime(float seconds) { m_minShowTime.set(seconds); }
    bool taskInProgress() const { return m_taskInProgress.get(); }
    void setTaskInProgress(bool inProgress) { m_taskInProgress.set(inProgress); }
    bool removeFromSuperViewOnHide() const { return m_removeFromSuperViewOnHide.get(); }
    void setRemoveFromSuperViewOnHide(bool remove) { m_removeFromSuperViewOnHide.set(remove); }
    float progress() const { return m_progress.get(); }
    void setProgress(float progress);
    // Runs once after the next hide has completed, then is cleared.
    Block completionBlock() const { return m_completionBlock.get(); }
    void setCompletionBlock(Block block) { m_completionBlock.set(std::move(block)); }
    platform::UIViewPtr indicator() const { return m_indicator.get(); }
    std::shared_ptr<platform::Timer> graceTimer() const { return m_graceTimer.get(); }
    std::shared_ptr<platform::Timer> minShowTimer() const { return m_minShowTimer.get(); }
    // When the HUD last became visible; nullopt while hidden.
    std::optional<platform::MonoTime> showStarted() const { return m_showStarted.get(); }
    // The box size of the last layout.
    platform::CGSize size() const { return m_size.get(); }

    void layoutSubviews() override;
    void drawRect(platform::CGRect rect) override;
    void didMoveToSuperview() override;

private:
    enum class Key {
        Mode,
        CustomView,
        LabelText,
        LabelFont,
        LabelColor,
        DetailsLabelText,
        DetailsLabelFont,
        DetailsLabelColor,
        Progress,
        ActivityIndicatorColor
    };

    KelProgressHUDPtr self();
    void setUp();
    void setUpLabels();
    void updateIndicators();
    void installIndicator(platform::UIViewPtr indicator);
    // What observing its own properties does: on the main thread at once, else handed to it.
    void propertyChanged(Key key);
    void applyChange(Key key);
    void showUsingAnimation(bool animated);
    void hideUsingAnimation(bool animated);
    void done();
    void cleanUp();
    void fitToSuperview();
    platform::CGSize layoutContent(platform::CGSize bounds);

    platform::AtomicProperty<int64_t> m_mode{HUDModeSpinner};
    platform::AtomicProperty<int64_t> m_animationType{HUDAnimationFade};
    platform::AtomicProperty<platform::UIViewPtr> m_customView;
    platform::AtomicProperty<std::weak_ptr<KelProgressHUDDelegate>> m_delegate;
    platform::AtomicProperty<std::optional<std::string>> m_labelText;
    platform::AtomicProperty<std::optional<std::string>> m_detailsLabelText;
    platform::AtomicProperty<float> m_opacity{0.8f};
    platform::AtomicProperty<platform::UIColorPtr> m_color;
    platform::AtomicProperty<platform::UIFontPtr> m_labelFont;
    platform::AtomicProperty<platform::UIColorPtr> m_labelColor;
    platform::AtomicProperty<platform::UIFontPtr> m_detailsLabelFont;
    platform::AtomicProperty<platform::UIColorPtr> m_detailsLabelColor;
    platform::AtomicProperty<platform::UIColorPtr> m_activityIndicatorColor;
    platform::AtomicProperty<float> m_xOffset{0};
    platform::AtomicProperty<float> m_yOffset{0};
    platform::AtomicProperty<float> m_margin{20};
    platform::AtomicProperty<float> m_cornerRadius{10};
    platform::AtomicProperty<platform::CGSize> m_minSize;
    platform::AtomicProperty<bool> m_square{false};
    platform::AtomicProperty<bool> m_dimBackground{false};
    platform::AtomicProperty<float> m_graceTime{0};
    platform::AtomicProperty<float> m_minShowTime{0};
    platform::AtomicProperty<bool> m_taskInProgress{false};
    platform::AtomicProperty<bool> m_removeFromSuperViewOnHide{false};
    platform::AtomicProperty<float> m_progress{0};
    platform::AtomicProperty<Block> m_completionBlock;
    platform::AtomicProperty<platform::UIViewPtr> m_indicator;
    platform::AtomicProperty<std::shared_ptr<platform::Timer>> m_graceTimer;
    platform::AtomicProperty<std::shared_ptr<platform::Timer>> m_minShowTimer;
    platform::AtomicProperty<std::optional<platform::MonoTime>> m_showStarted;
    platform::AtomicProperty<platform::CGSize> m_size;

    // Main thread only.
    bool m_useAnimation{false};
    platform::UILabelPtr m_label;
    platform::UILabelPtr m_detailsLabel;
    platform::Selector m_methodForExecution;
    platform::ObjectPtr m_targetForExecution;
    platform::ObjectPtr m_objectForExecution;
};
