#include "app/screens/LiveBarrageCollectionViewCell.h"

#include "app/core/ChatModel.h"
#include "app/ui/NSString+Extension.h"
#include "app/ui/UIView+AutoLayout.h"

#include <limits>

using namespace platform;

namespace {

constexpr double kSideInset = 12;
constexpr double kFontSize = 10;

} // namespace

std::shared_ptr<LiveBarrageCollectionViewCell> LiveBarrageCollectionViewCell::create(CGRect frame) {
    auto cell = std::make_shared<LiveBarrageCollectionViewCell>(frame);
    cell->setupSubviews();
    return cell;
}

void LiveBarrageCollectionViewCell::setupSubviews() {
    m_titleLabel->setBackgroundColor(backgroundColor());
    m_titleLabel->setTextColor(UIColor::whiteColor());
    m_titleLabel->setFont(UIFont::systemFontOfSize(kFontSize));
    m_titleLabel->setTextAlignment(NSTextAlignmentLeft);
    m_titleLabel->setNumberOfLines(0);
    contentView()->addSubview(m_titleLabel);
    autoPinEdgeToSuperviewEdge(m_titleLabel, EdgeTop, 0);
    autoPinEdgeToSuperviewEdge(m_titleLabel, EdgeBottom, 0);
    autoPinEdgeToSuperviewEdge(m_titleLabel, EdgeLeft, kSideInset);
    autoPinEdgeToSuperviewEdge(m_titleLabel, EdgeRight, kSideInset);
}

CGSize LiveBarrageCollectionViewCell::cellSizeWithText(std::string_view text, double width) {
    const double labelWidth = width - 2 * kSideInset;
    const CGSize bounds = sizeWithFont(text, UIFont::systemFontOfSize(kFontSize),
                                       CGSizeMake(labelWidth, std::numeric_limits<double>::max()));
    return CGSizeMake(labelWidth, bounds.height);
}

void LiveBarrageCollectionViewCell::updateWithEntity(const Value& entity) {
    if (auto line = entity.objectAs<ChatModel>())
        m_titleLabel->setAttributedText(line->attributedString());
}

void LiveBarrageCollectionViewCell::prepareForReuse() {
    CommonCollectionViewCell::prepareForReuse();
    m_titleLabel->setText("");
}
