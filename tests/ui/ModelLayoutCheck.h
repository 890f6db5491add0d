// The layout rule of tests/ui/toolkit/win32/Win32LayoutCheck.h on the control tree itself, with
// the backend's own measures (the headless backend's fixed metrics): every showing captioned
// control is at least as wide as its caption needs (a label wrapped to its width no higher than
// it is), no two showing siblings overlap, every control lies inside its parent's client area,
// and every grid column is as wide as its title and the header's margins.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/uTkControls.h"

namespace layoutcheck {

inline constexpr int kHeaderMargins = 12;  // a list view's header keeps 6 pixels on each side of a title

inline bool Overlap(const tk::TBounds& A, const tk::TBounds& B) {
  return A.Left < B.Right() && B.Left < A.Right() && A.Top < B.Bottom() && B.Top < A.Bottom();
}

inline void Judge(tk::TControl& C, std::vector<std::string>& Faults) {
  auto fault = [&](const std::string& Text) { Faults.push_back(C.Name() + ": " + Text); };
  switch (C.Kind()) {
    case tk::TControlKind::Button:
    case tk::TControlKind::CheckBox:
    case tk::TControlKind::GroupBox:
    case tk::TControlKind::RadioGroup: {
      const int need = C.PreferredSize().Width;
      if (need > C.Width())
        fault("caption \"" + C.Caption() + "\" needs " + std::to_string(need) + " px, has " + std::to_string(C.Width()));
      break;
    }
    case tk::TControlKind::Label: {
      const tk::TSize one = C.PreferredSize();
      const tk::TSize wrapped = C.PreferredSize(C.Width());
      if (one.Width > C.Width() && (wrapped.Height > C.Height() || wrapped.Width > C.Width()))
        fault("caption \"" + C.Caption() + "\" needs " + std::to_string(one.Width) + " px, has " +
              std::to_string(C.Width()) + " x " + std::to_string(C.Height()));
      break;
    }
    case tk::TControlKind::StringGrid: {
      auto& grid = static_cast<tk::TStringGrid&>(C);
      for (int c = 0; c < grid.ColCount() && grid.FixedRows() > 0; ++c) {
        const int need = tk::Backend().MeasureText(grid.Cell(c, 0), {}).Width + kHeaderMargins;
        if (need > grid.ColWidth(c))
          fault("column " + std::to_string(c) + " title \"" + grid.Cell(c, 0) + "\" needs " + std::to_string(need) +
                " px, has " + std::to_string(grid.ColWidth(c)));
      }
      break;
    }
    default: break;
  }
  std::vector<tk::TControl*> kids;
  for (const auto& child : C.Children())
    if (child->Showing()) kids.push_back(child.get());
  const tk::TSize client = C.ClientSize();
  for (tk::TControl* k : kids) {
    const tk::TBounds& b = k->Bounds();
    if (b.Width <= 0 || b.Height <= 0) continue;
    if (b.Left < 0 || b.Top < 0 || b.Right() > client.Width || b.Bottom() > client.Height) {
      std::ostringstream s;
      s << "reaches outside " << C.Name() << ": " << b.Left << "," << b.Top << " " << b.Width << "x" << b.Height
        << " in " << client.Width << "x" << client.Height;
      Faults.push_back(k->Name() + ": " + s.str());
    }
  }
  for (size_t i = 0; i < kids.size(); ++i)
    for (size_t j = i + 1; j < kids.size(); ++j)
      if (Overlap(kids[i]->Bounds(), kids[j]->Bounds()))
        Faults.push_back(kids[i]->Name() + " and " + kids[j]->Name() + " overlap");
  for (tk::TControl* k : kids) Judge(*k, Faults);
}

// One line per fault under Top.
inline std::vector<std::string> Faults(tk::TControl& Top) {
  std::vector<std::string> faults;
  Judge(Top, faults);
  return faults;
}

}  // namespace layoutcheck
