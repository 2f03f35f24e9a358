#pragma once
// CommonCollectionViewCell: the base of list cells. A cell class answers its size and spacings at class
// level (a subclass hides the statics it changes, and callers ask the concrete class) and fills itself from
// an entity. Main thread only.

#include "platform/foundation/Value.h"
#include "platform/ui/UICollectionViewCell.h"

class CommonCollectionViewCell : public platform::UICollectionViewCell {
public:
    using UICollectionViewCell::UICollectionViewCell;

    static platform::CGSize cellSize() { return platform::CGSizeZero; }
    static double minimumInteritemSpacing() { return 0; }
    static double minimumLineSpacing() { return 0; }

    // Subclasses fill the cell from the entity; the base does nothing.
    virtual void updateWithEntity(const platform::Value& entity);
    // There are no interface files to load cells from here; whoever builds a cell from a description calls
    // this once it is in place. The cell takes its superview's background colour.
    virtual void awakeFromNib();
};
