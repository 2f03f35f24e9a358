#pragma once
// UICollectionReusableView: a view a collection view hands out by reuse identifier (headers, footers, and
// the base of cells). The collection view makes it with a frame through the registered factory, stamps the
// identifier, and calls prepareForReuse each time it comes out of the pool again. Main thread only.

#include "platform/ui/UIView.h"

#include <memory>
#include <string>

namespace platform {

class UICollectionReusableView;
using UICollectionReusableViewPtr = std::shared_ptr<UICollectionReusableView>;

class UICollectionReusableView : public UIView {
public:
    static UICollectionReusableViewPtr create(CGRect frame) {
        return std::make_shared<UICollectionReusableView>(frame);
    }
    UICollectionReusableView() = default;
    explicit UICollectionReusableView(CGRect frame)
        : UIView(frame) {}

    const std::string& reuseIdentifier() const { return m_reuseIdentifier; }
    // Set by the collection view when it makes the view.
    void setReuseIdentifier(std::string identifier) { m_reuseIdentifier = std::move(identifier); }
    virtual void prepareForReuse() {}

private:
    std::string m_reuseIdentifier;
};

} // namespace platform
