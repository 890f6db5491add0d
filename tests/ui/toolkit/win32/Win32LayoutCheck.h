// A judge of a window's layout as the user sees it, from the real windows alone: every visible
// control's caption, measured in the control's own font, fits its control (a label's as far as
// its drawn text reaches, which under wine can be a pixel past its measured extent); no two visible
// sibling windows overlap; every window lies inside its parent's client area; every list-view
// header title fits its column. It knows nothing of the toolkit's own measures, so it also
// judges them.
#pragma once

#include <string>
#include <vector>

// After the toolkit's headers (see Win32Api.h).
#include "ui/toolkit/win32/Win32Api.h"

namespace tk::win32::testing {

// The room a caption needs besides its text, in pixels.
struct TCaptionRoom {
  int ButtonMargin = 6;   // on each side of a push button's text: its frame and a little air
  int MarkGap = 4;        // between a check box's or radio button's mark and its text
  int GroupMargin = 8;    // on each side of a group box's caption
  int HeaderMargin = 6;   // on each side of a list-view column title
};

// One line per fault found in the visible windows under Top (Top's own frame not judged), e.g.
// "BtnStart: caption "Start" needs 45 px, has 40". Windows of the toolkit are named by their
// control's name, others by class and text.
std::vector<std::string> LayoutFaults(HWND Top, const TCaptionRoom& Room = {});

}  // namespace tk::win32::testing
