#pragma once
// UIRectEdge: the edges of a rectangle as bits, in the platform's numbering (a controller's edges for
// extended layout, a screen-edge pan's edges).

#include <cstdint>

namespace platform {

enum UIRectEdge : uint64_t {
    UIRectEdgeNone = 0,
    UIRectEdgeTop = 1 << 0,
    UIRectEdgeLeft = 1 << 1,
    UIRectEdgeBottom = 1 << 2,
    UIRectEdgeRight = 1 << 3,
    UIRectEdgeAll = UIRectEdgeTop | UIRectEdgeLeft | UIRectEdgeBottom | UIRectEdgeRight,
};

} // namespace platform
