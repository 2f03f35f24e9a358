#pragma once
// LivePersonsView: the viewer badge of the broadcast screen, a background picture with the viewer count
// as text ("%lu"). The count reads back from the label's text. Starts at 0. Main thread only.

#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"

#include <cstdint>
#include <memory>

class LivePersonsView : public platform::UIImageView {
public:
    static std::shared_ptr<LivePersonsView> create(platform::CGRect frame = platform::CGRectZero);
    explicit LivePersonsView(platform::CGRect frame);

    const std::shared_ptr<platform::UILabel>& titleLabel();
    uint64_t personsAmount();
    void setPersonsAmount(uint64_t personsAmount);

private:
    std::shared_ptr<platform::UILabel> m_titleLabel;
};
