#include "app/ui/CommonCollectionViewCell.h"

void CommonCollectionViewCell::updateWithEntity(const platform::Value&) {}

void CommonCollectionViewCell::awakeFromNib() {
    auto superview = this->superview();
    setBackgroundColor(superview ? superview->backgroundColor() : nullptr);
}
