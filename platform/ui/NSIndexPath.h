#pragma once
// NSIndexPath: an immutable (section, row) pair, the address of a row in a table or an item in a
// collection. `row` and `item` are the same index under the two kits' names. Index paths compare by value
// (section first, then row), so they work as keys and sort the way the lists lay them out.

#include "platform/foundation/Object.h"

#include <compare>
#include <cstdint>
#include <memory>

namespace platform {

class NSIndexPath;
using NSIndexPathPtr = std::shared_ptr<const NSIndexPath>;

class NSIndexPath : public Object {
public:
    static NSIndexPathPtr indexPathForRow(int64_t row, int64_t section);
    static NSIndexPathPtr indexPathForItem(int64_t item, int64_t section);
    NSIndexPath(int64_t section, int64_t index);

    int64_t section() const { return m_section; }
    int64_t row() const { return m_index; }
    int64_t item() const { return m_index; }
    uint64_t length() const { return 2; }

    // NSOrderedAscending (-1), NSOrderedSame (0) or NSOrderedDescending (1).
    int64_t compare(const NSIndexPath& other) const;
    bool isEqual(const NSIndexPathPtr& other) const { return other && compare(*other) == 0; }
    std::string description() const override;

    friend bool operator==(const NSIndexPath& a, const NSIndexPath& b) { return a.compare(b) == 0; }
    friend std::strong_ordering operator<=>(const NSIndexPath& a, const NSIndexPath& b) {
        return a.compare(b) <=> 0;
    }

private:
    int64_t m_section{0};
    int64_t m_index{0};
};

} // namespace platform
