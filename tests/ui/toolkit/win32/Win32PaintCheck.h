// A judge of what a window shows: its client area as its own surface holds it now, against the
// same area painted anew. What a control left behind (a moved or hidden one's old picture, the
// end of a longer caption) is a difference.
#pragma once

#include <string>

// After the toolkit's headers (see Win32Api.h).
#include "ui/toolkit/win32/Win32Api.h"

namespace tk::win32::testing {

// Empty when the window shows what a full repaint shows; else how many pixels differ, and
// where, in W's client coordinates. What is due to be painted is painted first, and no control
// shows focus (which comes and goes with the activation: the tests of other processes share the
// display), the focused one left out should it come back meanwhile.
std::string PixelsLeftFromBefore(HWND W);

}  // namespace tk::win32::testing
