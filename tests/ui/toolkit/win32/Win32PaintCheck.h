// Judges of what is drawn: a window's client area as its own surface holds it now, against the
// same area painted anew (what a control left behind, a moved or hidden one's old picture or the
// end of a longer caption, is a difference); and a text as a font draws it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// After the toolkit's headers (see Win32Api.h).
#include "ui/toolkit/win32/Win32Api.h"

namespace tk::win32::testing {

// Empty when the window shows what a full repaint shows; else how many pixels differ, and
// where, in W's client coordinates. What is due to be painted is painted first, and no control
// shows focus (which comes and goes with the activation: the tests of other processes share the
// display), the focused one left out should it come back meanwhile.
std::string PixelsLeftFromBefore(HWND W);

// Text drawn black on white in Font by DrawTextW with Flags into Rect, unclipped, on a bitmap
// Width x Height: its pixels row by row, 0xFFFFFF where nothing was drawn.
std::vector<uint32_t> DrawnText(HFONT Font, const std::wstring& Text, UINT Flags, RECT Rect, int Width, int Height);

}  // namespace tk::win32::testing
