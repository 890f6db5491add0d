// Captions decide widths: the one rule by which a window's controls make room for their captions
// (buttons, check boxes, radio groups, group boxes, labels), in whatever language they are.
//
// A window lists its rows once, with every control at its designed place: controls that stand
// side by side in one parent. A row is a list of cells from its start (its left edge, or its right
// edge for a row held to the parent's right side); a cell is one control or a column of controls
// that share a left edge (a label over its edit, two buttons one above the other). A cell may
// stand in several rows (the column beside two rows of buttons).
//
// Each time the rule runs it starts again from the designed places:
//  - a captioned control keeps its designed width unless its caption needs more (a label is as
//    wide as its caption, or as the widest caption it takes at run time), so wherever the
//    captions fit, the design stands as it is;
//  - a cell that got wider pushes what follows it in its rows along, keeping its designed gap up
//    to 16 pixels of it: what stands further away moves only once that room is used up; a control
//    stretched between both edges (a list) gets shorter instead of moving;
//  - a row that then passes its limit moves its cells back into the gaps between them;
//  - a row that still does not fit goes on in a line of its own below it (a lone label takes more
//    lines instead); its parent grows by as much, and what stands below moves down, the same
//    16-pixel rule applied downwards (a control held to the bottom edge gets shorter instead).
// A packed row places each cell exactly as wide as it needs and a fixed gap after the one before.
//
// The rule runs when a row's caption changes and on Apply; a TCaptionBatch makes a burst of
// changes (a language applied) one run. A run for a changed caption measures only the captions
// that changed since the last run (the status line changes with every batch of a run, and the
// window's other captions cost a measure each on Win32); Apply measures them all again.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ui/toolkit/uTkControls.h"

namespace tk {

enum class TRowFlow : uint8_t { LeftToRight, RightToLeft };

struct TLayoutRow {
  std::vector<std::vector<TControl*>> Cells;
  TRowFlow Flow = TRowFlow::LeftToRight;
  // The edge no cell may pass, in the parent's designed client coordinates (the right edge of a
  // left-to-right row, the left edge of the other); kParentEdge: 8 pixels inside the parent's.
  int Limit = kParentEdge;
  // >= 0: a packed row, this many pixels between its cells.
  int PackGap = -1;
  static constexpr int kParentEdge = -1000000;
};

class TCaptionLayout {
 public:
  TCaptionLayout() = default;
  TCaptionLayout(const TCaptionLayout&) = delete;
  TCaptionLayout& operator=(const TCaptionLayout&) = delete;

  // The row's controls stand at their designed places now.
  void AddRow(TLayoutRow Row);
  // Places every row's controls for their present captions, each measured anew.
  void Apply();
  // A control's caption changed: the rows are placed again when it is in one.
  void CaptionChanged(TControl& Control);

 private:
  friend class TCaptionBatch;
  // Where a control was designed (its anchor place and its parent's client size then), and
  // where this run puts it, in the same coordinates.
  struct TPlace {
    TBounds Design;
    TSize DesignParent;
    TBounds Now;
  };
  struct TCell;
  TPlace& Place(TControl* C);
  void Run();
  TSize Measure(TControl* C);
  TSize DesignClient(TControl* Parent);
  int Need(TControl* C, bool Packed);
  void FitRows(TRowFlow Flow);
  void Settle(TCell& Cell, TRowFlow Flow);
  void Wrap(std::vector<TCell*>& Cells, int Limit, TRowFlow Flow);
  void WrapLabel(TControl* Label, int Limit);
  void PushBelow(TControl* Parent, const TBounds& Before, const TBounds& After, const std::set<TControl*>& Skip);
  void Grow(TControl* C, int Height);

  std::vector<TLayoutRow> FRows;
  std::set<TControl*> FMembers;
  std::map<TControl*, TPlace> FPlaces;
  std::map<TControl*, int> FGrowth;  // a parent's growth in this run
  // Each control's one-line size, with what it was measured for (its caption, a radio group's
  // items or a label's run-time captions too).
  struct TMeasured {
    std::string For;
    TSize Size;
  };
  std::map<TControl*, TMeasured> FMeasured;
  int FHeld = 0;
  bool FPending = false;
  bool FApplying = false;
};

// Holds a layout's runs while it lives; one run at its end if a caption changed meanwhile.
class TCaptionBatch {
 public:
  explicit TCaptionBatch(TCaptionLayout& Layout) : FLayout(Layout) { ++FLayout.FHeld; }
  ~TCaptionBatch();
  TCaptionBatch(const TCaptionBatch&) = delete;
  TCaptionBatch& operator=(const TCaptionBatch&) = delete;

 private:
  TCaptionLayout& FLayout;
};

}  // namespace tk
