// The caption rule (see uTkCaptionLayout.h). Every run computes the places from the design in
// memory and moves only the controls whose place differs from what they show.
#include "ui/toolkit/uTkCaptionLayout.h"

#include <algorithm>

namespace tk {

namespace {

constexpr int kKeptGap = 16;    // the most of a designed gap a pushed neighbour keeps
constexpr int kEdge = 8;        // a row's default distance to its parent's edge
constexpr int kLineGap = 4;     // between a row and the line it goes on in
constexpr int kMinStretch = 40;  // a stretched control gets no shorter than this

bool Captioned(const TControl* C) {
  switch (C->Kind()) {
    case TControlKind::Button:
    case TControlKind::CheckBox:
    case TControlKind::GroupBox:
    case TControlKind::RadioGroup:
    case TControlKind::Label: return true;
    default: return false;
  }
}

bool AutoLabel(const TControl* C) {
  return C->Kind() == TControlKind::Label && static_cast<const TLabel*>(C)->AutoSize();
}

bool CanGrow(const TControl* C) {
  return C->Align() == TAlign::alNone &&
         (C->Kind() == TControlKind::GroupBox || C->Kind() == TControlKind::RadioGroup ||
          C->Kind() == TControlKind::Panel);
}

bool OverlapX(const TBounds& A, const TBounds& B) { return A.Left < B.Right() && B.Left < A.Right(); }

TBounds Union(const TBounds& A, const TBounds& B) {
  const int l = std::min(A.Left, B.Left), t = std::min(A.Top, B.Top);
  return {l, t, std::max(A.Right(), B.Right()) - l, std::max(A.Bottom(), B.Bottom()) - t};
}

}  // namespace

// One cell of the rows of one flow, in flow coordinates: the distance from the row's start edge.
struct TCaptionLayout::TCell {
  std::vector<TControl*> Members;
  std::vector<int> Offsets;  // each member's start, from the cell's designed start
  std::vector<int> Widths;   // each member's width in this run
  int DesignStart = 0, DesignEnd = 0;
  int Width = 0;
  bool Stretch = false;
  // The cell before it in each of its rows, the gap kept to it, and whether it is exact (packed).
  struct TPred {
    TCell* Cell;
    int Gap;
    bool Exact;
  };
  std::vector<TPred> Preds;
  int Start = 0, End = 0;

  int Least() const {
    int least = Preds.empty() ? DesignStart : 0;
    for (const TPred& p : Preds) least = std::max(least, p.Cell->End + p.Gap);
    return least;
  }
  // Placed at the least start its rows allow, or as designed: packed cells exactly after theirs.
  void PlaceAfterPreds() {
    bool exact = false;
    int start = DesignStart;
    for (const TPred& p : Preds)
      if (p.Exact) {
        start = exact ? std::max(start, p.Cell->End + p.Gap) : p.Cell->End + p.Gap;
        exact = true;
      }
    for (const TPred& p : Preds)
      if (!p.Exact) start = std::max(start, p.Cell->End + p.Gap);
    Start = start;
    if (Stretch) {
      // Keeps its far edge and gets shorter, as far as it can.
      End = std::max(DesignEnd, Start + kMinStretch);
      Width = End - Start;
    } else {
      End = Start + Width;
    }
  }
};

void TCaptionLayout::AddRow(TLayoutRow Row) {
  for (auto& cell : Row.Cells)
    for (TControl* c : cell) {
      FMembers.insert(c);
      Place(c);
    }
  FRows.push_back(std::move(Row));
}

TCaptionLayout::TPlace& TCaptionLayout::Place(TControl* C) {
  auto it = FPlaces.find(C);
  if (it == FPlaces.end()) {
    // Never moved by the rule yet, so where code put it is its design: as its anchors place it
    // in its parent's designed client area, which all its siblings are then measured against.
    const TSize client = C->Parent() ? DesignClient(C->Parent()) : C->FAnchorParent;
    const TBounds design = C->Parent() && C->Align() == TAlign::alNone ? AnchoredBounds(*C, client) : C->FAnchorBase;
    it = FPlaces.emplace(C, TPlace{design, client, design}).first;
  }
  return it->second;
}

TSize TCaptionLayout::Measure(TControl* C) {
  if (!C->FPeer) return C->PreferredSize();
  std::string For = C->Caption();
  if (C->Kind() == TControlKind::RadioGroup)
    for (const std::string& item : static_cast<TRadioGroup*>(C)->Items()) For += '\n' + item;
  // A label measures its run-time captions too (see TLabel).
  if (C->Kind() == TControlKind::Label)
    for (const std::string& value : static_cast<TLabel*>(C)->RunTimeCaptions()) For += '\v' + value;
  auto it = FMeasured.find(C);
  if (it != FMeasured.end() && it->second.For == For) return it->second.Size;
  const TSize size = C->PreferredSize();
  FMeasured[C] = {std::move(For), size};
  return size;
}

int TCaptionLayout::Need(TControl* C, bool Packed) {
  const TPlace& p = Place(C);
  if (AutoLabel(C)) return Measure(C).Width;
  if (!Captioned(C)) return p.Design.Width;
  const int preferred = Measure(C).Width;
  return Packed ? preferred : std::max(p.Design.Width, preferred);
}

void TCaptionLayout::CaptionChanged(TControl& Control) {
  if (!FMembers.count(&Control) || FApplying) return;
  if (FHeld) {
    FPending = true;
    return;
  }
  Run();
}

TCaptionBatch::~TCaptionBatch() {
  if (--FLayout.FHeld == 0 && FLayout.FPending) {
    FLayout.FPending = false;
    FLayout.Run();
  }
}

void TCaptionLayout::Apply() {
  if (FApplying) return;
  FMeasured.clear();
  Run();
}

void TCaptionLayout::Run() {
  if (FApplying) return;
  FApplying = true;
  for (auto& [c, p] : FPlaces) p.Now = p.Design;
  FGrowth.clear();
  FitRows(TRowFlow::LeftToRight);
  FitRows(TRowFlow::RightToLeft);
  for (auto& [c, p] : FPlaces)
    if (!(p.Now == c->FAnchorBase) || !(p.DesignParent == c->FAnchorParent)) c->PlaceFromBase(p.Now, p.DesignParent);
  FApplying = false;
}

// The parent's client area where the rule places its children: where its own place puts it (at
// the window's designed size), or, for what fills its parent, as it is.
TSize TCaptionLayout::DesignClient(TControl* Parent) {
  const TSize now = Parent->ClientSize();
  if (!Parent->Parent() || Parent->Align() != TAlign::alNone || Parent->Kind() == TControlKind::TabSheet) return now;
  const TPlace& p = Place(Parent);
  return {p.Now.Width - (Parent->Width() - now.Width), p.Now.Height - (Parent->Height() - now.Height)};
}

void TCaptionLayout::Settle(TCell& Cell, TRowFlow Flow) {
  for (size_t i = 0; i < Cell.Members.size(); i++) {
    TControl* m = Cell.Members[i];
    TPlace& p = Place(m);
    const int s = Cell.Start + Cell.Offsets[i];
    const int w = Cell.Stretch ? Cell.Width : Cell.Widths[i];
    p.Now.Left = Flow == TRowFlow::LeftToRight ? s : p.DesignParent.Width - s - w;
    p.Now.Width = w;
    if (AutoLabel(m)) p.Now.Height = Measure(m).Height;
  }
}

void TCaptionLayout::FitRows(TRowFlow Flow) {
  // Flow coordinates of a control's place: from the left edge, or from the parent's right one.
  auto start = [Flow](const TPlace& p) {
    return Flow == TRowFlow::LeftToRight ? p.Now.Left : p.DesignParent.Width - p.Now.Right();
  };
  std::map<TControl*, TCell> cells;  // by their first member
  struct TRowCells {
    const TLayoutRow* Row;
    std::vector<TCell*> Cells;
    int Limit;
  };
  std::vector<TRowCells> rows;
  for (const TLayoutRow& row : FRows) {
    if (row.Flow != Flow || row.Cells.empty()) continue;
    std::vector<TCell*> list;
    for (const auto& members : row.Cells) {
      auto [it, added] = cells.try_emplace(members.front());
      TCell& cell = it->second;
      if (added) {
        cell.Members = members;
        cell.DesignStart = start(Place(members.front()));
        for (TControl* m : members) cell.DesignStart = std::min(cell.DesignStart, start(Place(m)));
        cell.DesignEnd = cell.DesignStart;
        for (TControl* m : members) {
          const TPlace& p = Place(m);
          cell.Offsets.push_back(start(p) - cell.DesignStart);
          // A label's designed width is its caption of the moment: it counts as none.
          cell.DesignEnd = std::max(cell.DesignEnd, start(p) + (AutoLabel(m) ? 0 : p.Design.Width));
          cell.Widths.push_back(Need(m, row.PackGap >= 0));
          cell.Width = std::max(cell.Width, cell.Offsets.back() + cell.Widths.back());
        }
        const TAnchors both = akLeft | akRight;
        cell.Stretch = members.size() == 1 && !Captioned(members[0]) && (members[0]->Anchors() & both) == both;
        if (cell.Stretch) cell.Width = cell.DesignEnd - cell.DesignStart;
      }
      if (!list.empty()) {
        TCell* pred = list.back();
        const bool packed = row.PackGap >= 0;
        const int gap = packed ? row.PackGap : std::min(kKeptGap, std::max(0, cell.DesignStart - pred->DesignEnd));
        cell.Preds.push_back({pred, gap, packed});
      }
      list.push_back(&cell);
    }
    const int parentWidth = DesignClient(list.front()->Members.front()->Parent()).Width;
    const int edge = row.Limit == TLayoutRow::kParentEdge ? (Flow == TRowFlow::LeftToRight ? parentWidth - kEdge : kEdge)
                                                            : row.Limit;
    rows.push_back({&row, std::move(list), Flow == TRowFlow::LeftToRight ? edge : parentWidth - edge});
  }

  // Pushed along: every cell after those before it, in the order of their designed places.
  std::vector<TCell*> order;
  for (auto& [first, cell] : cells) order.push_back(&cell);
  std::sort(order.begin(), order.end(), [](const TCell* a, const TCell* b) { return a->DesignStart < b->DesignStart; });
  for (TCell* c : order) c->PlaceAfterPreds();

  // A row past its limit: its cells back into the gaps before them, from the last one on; then
  // none before where its own rows let it stand.
  for (TRowCells& r : rows) {
    if (r.Cells.back()->End <= r.Limit) continue;
    int bound = r.Limit;
    for (auto it = r.Cells.rbegin(); it != r.Cells.rend(); ++it) {
      TCell* c = *it;
      if (c->End > bound) {
        c->Start -= c->End - bound;
        c->End = bound;
      }
      bound = c->Start - (c->Preds.empty() ? 0 : c->Preds.back().Gap);
    }
    for (TCell* c : r.Cells) {
      const int least = c->Least();
      if (c->Start < least) {
        c->End += least - c->Start;
        c->Start = least;
      }
    }
  }
  for (auto& [first, cell] : cells) Settle(cell, Flow);

  // What still does not fit goes on below: a row in lines, a lone label in lines of its text.
  for (TRowCells& r : rows) {
    if (r.Cells.back()->End <= r.Limit) continue;
    TCell& only = *r.Cells.front();
    if (r.Cells.size() == 1 && only.Members.size() == 1 && AutoLabel(only.Members[0])) {
      if (Flow == TRowFlow::LeftToRight) WrapLabel(only.Members[0], r.Limit);
    } else if (r.Cells.size() > 1) {
      Wrap(r.Cells, r.Limit, Flow);
    }
  }
}

// The cells from the first one that passes the limit on go on in lines of their own below the
// row, from the row's start, each line as far below the last as the row is high.
void TCaptionLayout::Wrap(std::vector<TCell*>& Cells, int Limit, TRowFlow Flow) {
  int top = 1 << 30, bottom = -(1 << 30);
  TBounds before{};
  bool any = false;
  std::set<TControl*> members;
  for (TCell* c : Cells)
    for (TControl* m : c->Members) {
      const TPlace& p = Place(m);
      top = std::min(top, p.Now.Top);
      bottom = std::max(bottom, p.Now.Bottom());
      before = any ? Union(before, p.Now) : p.Now;
      any = true;
      members.insert(m);
    }
  const int lineHeight = bottom - top + kLineGap;
  const int at = Cells.front()->Start;
  int line = 0;
  for (size_t i = 1; i < Cells.size(); i++) {
    TCell* c = Cells[i];
    int start = Cells[i - 1]->End + (c->Preds.empty() ? 0 : c->Preds.back().Gap);
    if (start + c->Width > Limit) {
      // Alone on a line of its own when even that is too short.
      ++line;
      start = at;
    }
    c->Start = start;
    c->End = start + c->Width;
    Settle(*c, Flow);
    for (TControl* m : c->Members) Place(m).Now.Top += line * lineHeight;
  }
  if (line == 0) return;
  TBounds after = before;
  for (TControl* m : members) after = Union(after, Place(m).Now);
  PushBelow(Cells.front()->Members.front()->Parent(), before, after, members);
}

void TCaptionLayout::WrapLabel(TControl* Label, int Limit) {
  TPlace& p = Place(Label);
  const TBounds before = p.Now;
  p.Now.Width = std::max(1, Limit - p.Now.Left);
  p.Now.Height = Label->PreferredSize(p.Now.Width).Height;
  if (p.Now.Height > before.Height) PushBelow(Label->Parent(), before, p.Now, {Label});
}

// What stands below Before (and beside After) keeps its gap to After; the parent grows when its
// content would pass its bottom.
void TCaptionLayout::PushBelow(TControl* Parent, const TBounds& Before, const TBounds& After,
                               const std::set<TControl*>& Skip) {
  if (!Parent) return;
  std::vector<std::pair<TBounds, TBounds>> grown{{Before, After}};
  std::vector<TControl*> kids;
  for (const auto& child : Parent->Children())
    if (!Skip.count(child.get()) && child->Kind() != TControlKind::TabSheet) kids.push_back(child.get());
  std::sort(kids.begin(), kids.end(), [this](TControl* a, TControl* b) { return Place(a).Now.Top < Place(b).Now.Top; });
  for (TControl* k : kids) {
    TPlace& p = Place(k);
    int top = p.Now.Top;
    for (const auto& [b, a] : grown)
      if (p.Now.Top >= b.Bottom() && OverlapX(p.Now, a))
        top = std::max(top, a.Bottom() + std::min(p.Now.Top - b.Bottom(), kKeptGap));
    if (top <= p.Now.Top) continue;
    const TBounds before = p.Now;
    const int d = top - p.Now.Top;
    p.Now.Top = top;
    if (k->Anchors() & akBottom) {
      p.Now.Height = std::max(0, p.Now.Height - d);  // its bottom stays
    } else {
      grown.push_back({before, p.Now});
    }
  }
  if (!CanGrow(Parent) || Parent->Children().empty()) return;
  const int client = DesignClient(Parent).Height;
  int designBottom = 0, nowBottom = After.Bottom();
  for (const auto& child : Parent->Children()) {
    const TPlace& p = Place(child.get());
    designBottom = std::max(designBottom, p.Design.Bottom());
    nowBottom = std::max(nowBottom, p.Now.Bottom());
  }
  const int margin = std::clamp(client - FGrowth[Parent] - designBottom, 0, kKeptGap);
  const int excess = nowBottom + margin - client;
  if (excess > 0) Grow(Parent, excess);
}

void TCaptionLayout::Grow(TControl* C, int Height) {
  TPlace& p = Place(C);
  const TBounds before = p.Now;
  p.Now.Height += Height;
  FGrowth[C] += Height;
  PushBelow(C->Parent(), before, p.Now, {C});
}

}  // namespace tk
