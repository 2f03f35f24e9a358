#pragma once
// LiveBarrageCollectionViewCell: one barrage line, drawn as the line's display text in white 10-point
// type, wrapped over as many lines as it needs, 12 points in from each side. Main thread only.

#include "app/ui/CommonCollectionViewCell.h"
#include "platform/ui/UILabel.h"

#include <memory>
#include <string_view>

class LiveBarrageCollectionViewCell : public CommonCollectionViewCell {
public:
    static constexpr const char* kReuseIdentifier = "LiveBarrageCollectionViewCell";

    static std::shared_ptr<LiveBarrageCollectionViewCell> create(platform::CGRect frame);
    explicit LiveBarrageCollectionViewCell(platform::CGRect frame)
        : CommonCollectionViewCell(frame) {}

    static double minimumLineSpacing() { return 9.0; }
    // The label's width (width - 24) and the text's height at that width.
    static platform::CGSize cellSizeWithText(std::string_view text, double width);

    const std::shared_ptr<platform::UILabel>& titleLabel() { return m_titleLabel; }
    // The line's display text; an entity that is not a chat line changes nothing.
    void updateWithEntity(const platform::Value& entity) override;
    // A reused cell is drawn empty until a line is given to it.
    void prepareForReuse() override;

private:
    void setupSubviews();

    std::shared_ptr<platform::UILabel> m_titleLabel{platform::UILabel::create()};
};
