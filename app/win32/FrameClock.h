#pragma once

// The vertical blanks of the monitor that shows the window, waited for on
// threads of their own so that the window's thread never blocks: the
// kernel's D3DKMT wait where gdi32 has it (looked up at run time), else
// nothing, and the window goes by the monitor's nominal rate.

#include "app/Platform.h"

#include <windows.h>

namespace frameclock {

// Whether this system can wait for a vertical blank.
bool CanWaitForBlank();

// Waits on a new thread for the next vertical blank of the monitor that
// holds `window`, then posts `message` to it with the performance counter
// at the blank as lParam (0 when the wait failed). False when no thread
// could be started.
bool PostNextBlank(HWND window, UINT message);

// Waits on a new thread for `wait`, then posts `message` to `window`.
bool PostAfter(HWND window, UINT message, pruvex::Milliseconds wait);

// The steady clock's time of a performance-counter reading.
pruvex::FrameTime FromPerformanceCounter(LONGLONG counter);

// One refresh of the monitor that holds `window` by its display mode (60 Hz
// where the mode reports none).
pruvex::Milliseconds NominalPeriod(HWND window);

// Whether the mode reported a rate.
bool ModeHasRate(HWND window);

} // namespace frameclock
