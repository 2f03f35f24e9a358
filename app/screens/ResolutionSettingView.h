#pragma once
// ResolutionSettingView: the block "分辨率设置" of the home screen, three buttons for the three stream
// presets (low, medium, high; tags 50, 51, 52). The owner gives the buttons their titles and marks the
// stored choice by its title; a press marks the pressed button and reports its index (tag − 50) to the
// handler, also when it was already marked. The view knows only titles, never the presets themselves.
// ResolutionButton is the button: a selected one is drawn in the broadcast red, the others in grey.
// Make both with create(). Main thread only.

#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ResolutionButton : public platform::UIButton {
public:
    static std::shared_ptr<ResolutionButton> create(platform::CGRect frame = platform::CGRectZero);
    // Clear, system 15, corner radius 3, a border of width 1 (its colour comes with the first setSelected).
    explicit ResolutionButton(platform::CGRect frame);

    void setSelected(bool selected) override;
};

class ResolutionSettingView : public platform::UIView {
public:
    using ResolutionChangedHandler = std::function<void(int64_t index)>;

    static constexpr int64_t kLowResolutionTag = 50;

    static std::shared_ptr<ResolutionSettingView> create(platform::CGRect frame = platform::CGRectZero);
    using UIView::UIView;

    const platform::UILabelPtr& titleLabel();
    const std::shared_ptr<ResolutionButton>& lowResolutionButton();
    const std::shared_ptr<ResolutionButton>& mediumResolutionButton();
    const std::shared_ptr<ResolutionButton>& highResolutionButton();
    const ResolutionChangedHandler& resolutionChangedHandler() const { return m_resolutionChangedHandler; }
    void setResolutionChangedHandler(ResolutionChangedHandler handler) {
        m_resolutionChangedHandler = std::move(handler);
    }

    // With at least three titles, the first three become the buttons' titles (normal state); with fewer
    // nothing changes.
    void updateResolutionButtonTitles(const std::vector<std::string>& titles);
    // Marks the leftmost button whose title equals the text and unmarks the other two; without a match
    // (or without a text) no button changes.
    void setResolutionSelected(const std::optional<std::string>& title);
    void buttonPressed(ResolutionButton* button);

    void setupSubviews();
    void setupConstraints();

private:
    std::vector<std::shared_ptr<ResolutionButton>> buttons();
    const std::shared_ptr<ResolutionButton>& button(std::shared_ptr<ResolutionButton>& slot, int64_t tag);

    platform::UILabelPtr m_titleLabel;
    std::shared_ptr<ResolutionButton> m_lowResolutionButton;
    std::shared_ptr<ResolutionButton> m_mediumResolutionButton;
    std::shared_ptr<ResolutionButton> m_highResolutionButton;
    ResolutionChangedHandler m_resolutionChangedHandler;
};
