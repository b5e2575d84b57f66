#include "self_update/CornerPlacement.h"

namespace corner {

Point Place(const plat::Rect& window, const plat::Rect& desktop, double scale, bool rightToLeft) {
    const int w = window.right - window.left;
    const int h = window.bottom - window.top;
    Point p;
    p.x = rightToLeft ? static_cast<int>(desktop.left + 10 * scale)
                      : static_cast<int>(desktop.right - w - 10 * scale);
    if (p.x < desktop.left) p.x = desktop.left;
    else if (p.x + w > desktop.right) p.x = desktop.right - w;
    p.y = static_cast<int>(desktop.bottom - h - 50 * scale);
    if (p.y < desktop.top) p.y = desktop.top;
    else if (p.y + h > desktop.bottom) p.y = desktop.bottom - h;
    return p;
}

}  // namespace corner
