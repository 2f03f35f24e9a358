#include "app/ui/LiveParameterChoicingView.h"

#include "app/ui/UIView+AutoLayout.h"

using namespace platform;

namespace {

const char* const cellIdentifier = "LiveParameterChoicingViewCell";

UIColorPtr choiceRed() {
    return UIColor::colorWithRed(231 / 255.0, 60 / 255.0, 50 / 255.0, 1);
}

UIColorPtr white() {
    return UIColor::colorWithRed(1, 1, 1, 1);
}

} // namespace

std::shared_ptr<LiveParameterChoicingViewCell>
LiveParameterChoicingViewCell::create(UITableViewCellStyle style, std::string reuseIdentifier) {
    auto cell = std::make_shared<LiveParameterChoicingViewCell>(style, std::move(reuseIdentifier));
    auto label = cell->textLabel();
    label->setTextAlignment(NSTextAlignmentCenter);
    for (int64_t edge : {EdgeTop, EdgeLeft, EdgeBottom, EdgeRight})
        autoPinEdgeToSuperviewEdge(label, edge);
    return cell;
}

void LiveParameterChoicingViewCell::checked(bool on) {
    setBackgroundColor(on ? choiceRed() : white());
    textLabel()->setTextColor(on ? white() : choiceRed());
}

std::shared_ptr<LiveParameterChoicingView> LiveParameterChoicingView::create(CGRect frame) {
    auto card = std::make_shared<LiveParameterChoicingView>(frame);
    card->setBackgroundColor(white());
    card->layer()->setCornerRadius(5);
    card->setupSubviews();
    card->setupConstraints();
    return card;
}

const UILabelPtr& LiveParameterChoicingView::titleLabel() {
    if (!m_titleLabel) {
        m_titleLabel = UILabel::create();
        m_titleLabel->setBackgroundColor(UIColor::clearColor());
        m_titleLabel->setTextAlignment(NSTextAlignmentCenter);
        m_titleLabel->setTextColor(UIColor::colorWithRed(1 / 255.0, 1 / 255.0, 1 / 255.0, 1));
        m_titleLabel->setFont(UIFont::systemFontOfSize(16));
    }
    return m_titleLabel;
}

const UIViewPtr& LiveParameterChoicingView::seperatorView() {
    if (!m_seperatorView) {
        m_seperatorView = UIView::create();
        m_seperatorView->setBackgroundColor(UIColor::colorWithRed(0.8, 0.8, 0.8, 1));
    }
    return m_seperatorView;
}

const UITableViewPtr& LiveParameterChoicingView::parametersTableView() {
    if (!m_parametersTableView) {
        m_parametersTableView = UITableView::create(CGRectZero, UITableViewStylePlain);
        auto self = sharedAs<LiveParameterChoicingView>();
        m_parametersTableView->setDelegate(self);
        m_parametersTableView->setDataSource(self);
        m_parametersTableView->setSeparatorInset(UIEdgeInsetsZero);
    }
    return m_parametersTableView;
}

void LiveParameterChoicingView::setupSubviews() {
    addSubview(titleLabel());
    addSubview(seperatorView());
    addSubview(parametersTableView());
}

void LiveParameterChoicingView::setupConstraints() {
    auto& title = titleLabel();
    autoPinEdgeToSuperviewEdge(title, EdgeTop);
    autoPinEdgeToSuperviewEdge(title, EdgeLeft, 20);
    autoPinEdgeToSuperviewEdge(title, EdgeRight, 20);
    autoSetDimension(title, DimensionHeight, 40);

    auto& rule = seperatorView();
    autoPinEdge(rule, EdgeLeft, EdgeLeft, title);
    autoPinEdge(rule, EdgeTop, EdgeBottom, title);
    autoPinEdge(rule, EdgeRight, EdgeRight, title);
    autoSetDimension(rule, DimensionHeight, 2);

    auto& table = parametersTableView();
    autoPinEdge(table, EdgeLeft, EdgeLeft, title);
    autoPinEdge(table, EdgeTop, EdgeBottom, rule);
    autoPinEdge(table, EdgeRight, EdgeRight, title);
    autoPinEdgeToSuperviewEdge(table, EdgeBottom);
}

int64_t LiveParameterChoicingView::tableViewNumberOfRowsInSection(UITableView*, int64_t) {
    auto items = m_dataSource.array();
    return items ? int64_t(items->size()) : 0;
}

UITableViewCellPtr
LiveParameterChoicingView::tableViewCellForRowAtIndexPath(UITableView* tableView,
                                                          const NSIndexPathPtr& indexPath) {
    auto cell = std::dynamic_pointer_cast<LiveParameterChoicingViewCell>(
        tableView->dequeueReusableCellWithIdentifier(cellIdentifier));
    if (!cell)
        cell = LiveParameterChoicingViewCell::create(UITableViewCellStyleDefault, cellIdentifier);
    int64_t row = indexPath->row();
    cell->textLabel()->setText(m_dataSource[row].stringOr(""));
    cell->checked(row >= 0 && uint64_t(row) == m_checkedIndex);
    return cell;
}

void LiveParameterChoicingView::tableViewDidSelectRowAtIndexPath(UITableView* tableView,
                                                                 const NSIndexPathPtr& indexPath) {
    tableView->deselectRowAtIndexPath(indexPath, true);
    m_checkedIndex = uint64_t(std::max<int64_t>(0, indexPath->row()));
    tableView->reloadData();
    if (m_checkedHandler)
        m_checkedHandler(this, m_dataSource, m_checkedIndex);
}

bool LiveParameterChoicingView::respondsTo(std::string_view selector) const {
    return selector == "tableView:heightForRowAtIndexPath:" || UIView::respondsTo(selector);
}
