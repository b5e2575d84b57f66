// Where the notice windows sit: the bottom corner of the desktop on the reading side's end,
// 10 and 50 DPI-scaled pixels in, always inside the desktop. Pure.
#pragma once

#include <memory>
#include <mutex>

#include "kva/platform/Desktop.h"

namespace corner {

struct Point {
    int x = 0;
    int y = 0;
};

// `scale` is DPI / 96; `rightToLeft` puts the window at the left edge.
Point Place(const plat::Rect& window, const plat::Rect& desktop, double scale, bool rightToLeft);

// Whether a window still lives, for work queued to it from other threads: the work runs under
// the lock only while the window is alive, and the window's destructor ends that under the lock.
struct CLife {
    std::mutex mtx;
    bool alive = true;
};

}  // namespace corner
