#include "platform/ui/UISearchBar.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/graphics/Color.h"

namespace platform {

namespace {
constexpr double fieldInset = 8;
constexpr double fieldHeight = 28;
} // namespace

// Turns the field's editing into the bar's delegate calls.
class UISearchBar::FieldDelegate : public UITextFieldDelegate {
public:
    explicit FieldDelegate(UISearchBar* bar)
        : m_bar(bar) {}
    bool textFieldShouldBeginEditing(UITextField*) override {
        auto delegate = m_bar->delegate();
        return !delegate || delegate->searchBarShouldBeginEditing(m_bar);
    }
    void textFieldDidBeginEditing(UITextField*) override {
        if (auto delegate = m_bar->delegate())
            delegate->searchBarTextDidBeginEditing(m_bar);
    }
    bool textFieldShouldEndEditing(UITextField*) override {
        auto delegate = m_bar->delegate();
        return !delegate || delegate->searchBarShouldEndEditing(m_bar);
    }
    void textFieldDidEndEditing(UITextField*) override {
        if (auto delegate = m_bar->delegate())
            delegate->searchBarTextDidEndEditing(m_bar);
    }
    bool textFieldShouldReturn(UITextField*) override {
        if (auto delegate = m_bar->delegate())
            delegate->searchBarSearchButtonClicked(m_bar);
        return true;
    }

private:
    // The bar owns this adapter and the field that calls it, so the bar outlives every call.
    UISearchBar* m_bar;
};

UISearchBarPtr UISearchBar::create(CGRect frame) {
    auto bar = std::make_shared<UISearchBar>(frame);
    bar->build();
    return bar;
}

UISearchBar::UISearchBar(CGRect frame)
    : UIView(frame) {}

UISearchBar::~UISearchBar() {
    if (m_field)
        m_field->setDelegate(nullptr);
}

void UISearchBar::registerClasses() {
    auto& registry = ClassRegistry::shared();
    if (!registry.classNamed("UISearchBarTextField"))
        registry.registerClass<UISearchBarTextField>("UISearchBarTextField", "UITextField");
}

void UISearchBar::build() {
    if (m_field)
        return;
    m_fieldDelegate = std::make_shared<FieldDelegate>(this);
    m_contentView = UIView::create(bounds());
    m_contentView->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    addSubview(m_contentView);
    m_field = std::make_shared<UISearchBarTextField>();
    m_field->setBorderStyle(UITextBorderStyleRoundedRect);
    m_field->setBackgroundColor(UIColor::whiteColor());
    m_field->setFont(UIFont::systemFontOfSize(14));
    m_field->setReturnKeyType(UIReturnKeySearch);
    m_field->setClearButtonMode(UITextFieldViewModeWhileEditing);
    m_field->setDelegate(m_fieldDelegate);
    std::weak_ptr<UISearchBar> weak = sharedAs<UISearchBar>();
    m_field->addTarget(nullptr,
                       selector("searchTextChanged",
                                [weak](Object*, Object*, UIEvent*) {
                                    auto bar = weak.lock();
                                    if (!bar)
                                        return;
                                    if (auto delegate = bar->delegate())
                                        delegate->searchBarTextDidChange(bar.get(), bar->text());
                                }),
                       UIControlEventEditingChanged);
    m_contentView->addSubview(m_field);
    // Laid out now, so the field can be hit and measured before the first display pass.
    layoutSubviews();
}

void UISearchBar::setText(std::string text) {
    if (m_field)
        m_field->setText(std::move(text));
}

void UISearchBar::setPlaceholder(std::string placeholder) {
    if (m_field)
        m_field->setPlaceholder(std::move(placeholder));
}

void UISearchBar::setBarTintColor(UIColorPtr color) {
    m_barTintColor = std::move(color);
    if (m_contentView)
        m_contentView->setBackgroundColor(m_barTintColor);
}

void UISearchBar::layoutSubviews() {
    if (!m_field)
        return;
    CGRect bounds = this->bounds();
    m_field->setFrame(CGRectMake(fieldInset, (bounds.size.height - fieldHeight) / 2,
                                 bounds.size.width - 2 * fieldInset, fieldHeight));
}

void UISearchBar::clickCancelButton() {
    if (auto delegate = m_delegate.lock())
        delegate->searchBarCancelButtonClicked(this);
}

} // namespace platform
