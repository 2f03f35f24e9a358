#include "platform/ui/UICollectionViewLayout.h"

#include "platform/ui/UICollectionView.h"

namespace platform {

void UICollectionViewLayout::invalidateLayout() {
    if (auto view = collectionView())
        view->setNeedsLayout();
}

} // namespace platform
