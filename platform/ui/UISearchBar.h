#pragma once
// UISearchBar: a search field in a bar. Its first subview is a content view whose last subview is the
// text field (of class "UISearchBarTextField", a UITextField), which is where the platform keeps it and
// where screens that restyle the field look for it. Editing the field is reported to the bar's delegate
// as search-bar events: begin and end editing (each may be refused), every typed change with the new
// text, and return as the search button. The delegate is held weakly. Main thread only.

#include "platform/ui/UITextField.h"
#include "platform/ui/UIView.h"

#include <memory>
#include <string>

namespace platform {

class UISearchBar;
using UISearchBarPtr = std::shared_ptr<UISearchBar>;

class UISearchBarDelegate {
public:
    virtual ~UISearchBarDelegate() = default;
    virtual bool searchBarShouldBeginEditing(UISearchBar*) { return true; }
    virtual void searchBarTextDidBeginEditing(UISearchBar*) {}
    virtual bool searchBarShouldEndEditing(UISearchBar*) { return true; }
    virtual void searchBarTextDidEndEditing(UISearchBar*) {}
    virtual void searchBarTextDidChange(UISearchBar*, const std::string& /*searchText*/) {}
    virtual void searchBarSearchButtonClicked(UISearchBar*) {}
    virtual void searchBarCancelButtonClicked(UISearchBar*) {}
};

// The field's own class, so it can be found by its class name.
class UISearchBarTextField : public UITextField {
public:
    using UITextField::UITextField;
};

class UISearchBar : public UIView {
public:
    // Views are made through create(): the field and its content view need the bar's shared ownership.
    static UISearchBarPtr create() { return create(CGRectMake(0, 0, 320, 44)); }
    static UISearchBarPtr create(CGRect frame);
    explicit UISearchBar(CGRect frame);
    ~UISearchBar() override;

    // Registers "UISearchBarTextField" (a "UITextField") with the class registry, once at start-up.
    static void registerClasses();

    std::string text() const { return m_field ? m_field->text() : std::string(); }
    void setText(std::string text);
    std::string placeholder() const { return m_field ? m_field->placeholder() : std::string(); }
    void setPlaceholder(std::string placeholder);
    bool showsCancelButton() const { return m_showsCancelButton; }
    void setShowsCancelButton(bool shows) { m_showsCancelButton = shows; }
    UIColorPtr barTintColor() const { return m_barTintColor; }
    void setBarTintColor(UIColorPtr color);
    std::shared_ptr<UISearchBarDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UISearchBarDelegate>& delegate) { m_delegate = delegate; }

    UITextFieldPtr searchField() const { return m_field; }

    bool becomeFirstResponder() override { return m_field && m_field->becomeFirstResponder(); }
    bool resignFirstResponder() override { return !m_field || m_field->resignFirstResponder(); }
    void layoutSubviews() override;

    // Tells the delegate the cancel button was tapped (there is no drawn cancel button headless).
    void clickCancelButton();

private:
    class FieldDelegate;
    void build();

    std::shared_ptr<FieldDelegate> m_fieldDelegate;
    UIViewPtr m_contentView;
    std::shared_ptr<UISearchBarTextField> m_field;
    std::weak_ptr<UISearchBarDelegate> m_delegate;
    UIColorPtr m_barTintColor;
    bool m_showsCancelButton{false};
};

} // namespace platform
