#pragma once

#include <cstdlib>

namespace dravo2::testing {

// Widget tests and benchmarks run headless on Qt's offscreen platform, with a fixed font
// resolution and the C locale, whatever the machine's display and settings. Call before the
// QApplication is made.
inline void UseOffscreenPlatform() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("QT_FONT_DPI", "96", 1);
    ::setenv("LC_ALL", "C", 1);
}

} // namespace dravo2::testing
