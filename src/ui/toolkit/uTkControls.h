// The controls the program's windows use, and nothing beyond them.
//
// Each control is a thin wrapper: it is made from a creation record (name, bounds, anchors,
// caption), holds the few properties the windows use, and raises typed events. The control
// object holds the state (caption, items, check state, lines, cells...); a backend peer shows it
// (a real window in the Win32 backend, nothing in the headless one) and is told of each change.
// User actions come back from the peer through the control's User... methods, which change the
// state and then raise the event. Changes made by code (SetItemIndex, SetChecked,
// SetActivePageIndex, SetValue...) never raise the user's change or click events: the program
// calls its handlers itself where it wants them to run. Both backends keep to that one rule.
//
// Positions are in pixels of the parent's client area: below a group box's caption, inside a
// page control's tab area. Controls are owned by their parent and freed with it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/toolkit/uTkTypes.h"

namespace tk {

class IControlPeer;
class TCanvas;
class TForm;

enum class TControlKind : uint8_t {
  Form,
  Panel,
  PageControl,
  TabSheet,
  GroupBox,
  Label,
  Button,
  CheckBox,
  RadioGroup,
  ComboBox,
  Memo,
  SpinEdit,
  ProgressBar,
  StringGrid,
  PaintBox,
};

// What a peer is told has changed (see IControlPeer::Changed).
enum class TChange : uint8_t {
  Bounds,        // this control's bounds (layout moved or sized it)
  Visible,       // own visibility
  Enabled,       // own enabled state
  Caption,       // caption or text of a label, button, check box, group, tab, form
  Hint,          // tooltip text
  Items,         // the item list of a combo box or radio group (selection may have moved too)
  ItemIndex,     // selected item of a combo box or radio group
  Checked,       // check box state
  Value,         // spin edit value, progress position
  Range,         // spin edit or progress bar range, spin step; a memo's character limit
  Lines,         // memo lines replaced or cleared
  LinesAdded,    // arg: that many lines were appended at the end of the memo
  LinesDropped,  // arg: that many lines were removed from the front of the memo
  Grid,          // string grid: row/column counts, fixed rows/columns or options
  Cells,         // string grid cells
  ColWidths,     // string grid column widths
  ActivePage,    // page control's active tab sheet
  Invalidate,    // paint box: repaint
  ClientSize,    // form's client size set by code
  Constraints,   // form's minimum size
  ZOrder,        // brought to the front of its siblings
};

// The creation record every control is made from.
// Every member has a default, so a designated initializer may leave any of them out.
struct TCreate {
  std::string Name{};  // the window's field name (BtnStart); tests find controls by it
  TBounds Bounds{};
  TAnchors Anchors = kAnchorsDefault;
  std::string Caption{};
  TAlign Align = TAlign::alNone;
};

// Font of a control or of a canvas. Size in points; an empty name is the system's GUI font.
struct TFontInfo {
  std::string Name{};
  int SizePt = 9;
  bool Bold = false;
  TColor Color = clBlack;
  bool operator==(const TFontInfo&) const = default;
};

class TControl {
 public:
  virtual ~TControl();
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  TControlKind Kind() const { return FKind; }
  const std::string& Name() const { return FName; }
  TControl* Parent() const { return FParent; }
  // The form this control is on (itself for a form).
  TForm* OwnerForm();
  const std::vector<std::unique_ptr<TControl>>& Children() const { return FChildren; }
  // Depth-first search of this control's subtree by name; nullptr when absent.
  TControl* FindByName(const std::string& Name);

  // Creates a child of type T owned by this control (T's constructor takes (TControl* Parent,
  // const TCreate&)); its peer exists when Add returns.
  template <class T, class... Extra>
  T* Add(const TCreate& Create, Extra&&... extra) {
    auto child = std::make_unique<T>(this, Create, std::forward<Extra>(extra)...);
    T* raw = child.get();
    AdoptChild(std::move(child));
    return raw;
  }

  // ---- geometry ----
  const TBounds& Bounds() const { return FBounds; }
  void SetBounds(const TBounds& B);
  int Left() const { return FBounds.Left; }
  int Top() const { return FBounds.Top; }
  int Width() const { return FBounds.Width; }
  int Height() const { return FBounds.Height; }
  void SetLeft(int V);
  void SetTop(int V);
  void SetWidth(int V);
  void SetHeight(int V);
  TAnchors Anchors() const { return FAnchors; }
  void SetAnchors(TAnchors A);
  TAlign Align() const { return FAlign; }
  // Client area of a container in its own coordinates (0, 0, width, height less its frame, a
  // group box's caption, a page control's tabs); children's bounds are relative to its origin.
  TRect ClientRect();
  TSize ClientSize();
  // The size the control would like for its content: a button's caption and margins, a check
  // box's box, spacing and caption as the theme draws them, a radio group's widest item, a group
  // box's caption; a label's text, on one line or, given WrapWidth, wrapped at that width.
  // Measured by the backend.
  TSize PreferredSize(int WrapWidth = 0);
  // Brings the control to the front of its siblings.
  void BringToFront();

  // ---- state as the user sees it ----
  bool Visible() const { return FVisible; }
  void SetVisible(bool V);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool V);
  // Visible here and in every parent, and on the active page where it sits on a tab sheet.
  bool Showing() const;
  // Enabled here and in every parent.
  bool EffectivelyEnabled() const;

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& S);
  // "short|long": the tooltip shows the short part (all of it when there is no bar).
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& S);
  static std::string ShortHint(const std::string& Hint);

  // ---- backend ----
  IControlPeer* Peer() const { return FPeer.get(); }
  // Re-runs the layout of the children for this control's present client size (the layout
  // routine is shared by both backends).
  void LayoutChildren();

 protected:
  TControl(TControlKind Kind, TControl* Parent, const TCreate& Create);
  // Tells the peer; called by every setter after the state changed.
  void Changed(TChange What, size_t Arg = 0);
  // Creates the peer through the installed backend (TForm calls it from its constructor).
  void AttachPeer();
  // Moves or sizes the control as the layout (or the user) does: the anchor distances stay as
  // code last set them, the peer is told with What, and the children are laid out again when
  // the client size changed.
  void PlaceAt(const TBounds& B, TChange What = TChange::Bounds);

 private:
  void AdoptChild(std::unique_ptr<TControl> Child);
  // Bounds set by code become the place the anchors keep: the bounds and the parent's client
  // size at that moment.
  void RememberAnchorDistances();
  void FitLabel();
  // Base becomes the place the anchors keep, measured against a parent of BaseParent's client
  // size, and the control is placed from it at the parent's present size.
  void PlaceFromBase(const TBounds& Base, TSize BaseParent);
  friend void ApplyAnchorLayout(TControl& Parent);
  friend TBounds AnchoredBounds(const TControl& C, TSize Client);
  friend class TCaptionLayout;
  friend class TLabel;

  TControlKind FKind;
  std::string FName;
  TControl* FParent;
  std::vector<std::unique_ptr<TControl>> FChildren;
  TBounds FBounds;
  TAnchors FAnchors;
  TAlign FAlign;
  bool FVisible = true;
  bool FEnabled = true;
  std::string FCaption;
  std::string FHint;
  TBounds FAnchorBase;  // bounds as code last set them ...
  TSize FAnchorParent;  // ... and the parent's client size then
  std::unique_ptr<IControlPeer> FPeer;
};

// The one layout routine of both backends, run whenever Parent's client size changes: the tab
// sheets of a page control fill its client area; aligned children (top, in creation order, then
// client) take their part of it; every other child is placed from where code last put it,
// measured against the parent's client size at that moment. A child anchored left and right
// keeps both distances (it stretches, not below zero width); right only keeps its distance to
// the right edge (it moves); neither keeps its centre at the same proportion. Likewise
// vertically. Laying out from the remembered place, not from the last size, means a window
// made small and then large again gets its design layout back.
void ApplyAnchorLayout(TControl& Parent);
// Where that routine puts a child that is not aligned, for the parent's client size Client.
TBounds AnchoredBounds(const TControl& C, TSize Client);

class TPanel : public TControl {
 public:
  TPanel(TControl* Parent, const TCreate& Create);
};

class TGroupBox : public TControl {
 public:
  TGroupBox(TControl* Parent, const TCreate& Create);
};

class TTabSheet : public TControl {
 public:
  // Parent must be a TPageControl; the caption is the tab's text.
  TTabSheet(TControl* Parent, const TCreate& Create);
  int PageIndex() const;
};

class TPageControl : public TControl {
 public:
  TPageControl(TControl* Parent, const TCreate& Create);
  // Pages are its TTabSheet children, in creation order.
  int PageCount() const;
  TTabSheet* Page(int Index) const;
  TTabSheet* ActivePage() const;
  int ActivePageIndex() const { return FActive; }
  void SetActivePage(TTabSheet* Page);
  void SetActivePageIndex(int Index);
  // The user picked a tab: OnChange after the page changed.
  void UserSelectPage(int Index);
  TNotifyEvent OnChange;

 private:
  int FActive = 0;
};

class TLabel : public TControl {
 public:
  // A label sizes itself to its caption (auto size) unless the creation record gave a width.
  TLabel(TControl* Parent, const TCreate& Create);
  bool AutoSize() const { return FAutoSize; }
  // The captions an auto-size label takes at run time (a status and its values, each as wide as
  // it gets): it keeps room for the widest of them whatever it shows, so no value is cut or
  // moves what stands beside it. Set again when they change (a language applied).
  const std::vector<std::string>& RunTimeCaptions() const { return FRunTimeCaptions; }
  void SetRunTimeCaptions(std::vector<std::string> Captions);

 private:
  bool FAutoSize;
  std::vector<std::string> FRunTimeCaptions;
};

class TButton : public TControl {
 public:
  TButton(TControl* Parent, const TCreate& Create);
  // The user clicked (or pressed it by keyboard): OnClick.
  void UserClick();
  TNotifyEvent OnClick;
};

class TCheckBox : public TControl {
 public:
  TCheckBox(TControl* Parent, const TCreate& Create);
  bool Checked() const { return FChecked; }
  void SetChecked(bool V);  // no event
  // The user toggled it: the state flips, then OnClick.
  void UserToggle();
  TNotifyEvent OnClick;

 private:
  bool FChecked = false;
};

// A group box of radio buttons, one column.
class TRadioGroup : public TControl {
 public:
  TRadioGroup(TControl* Parent, const TCreate& Create);
  const std::vector<std::string>& Items() const { return FItems; }
  void SetItems(std::vector<std::string> Items);  // keeps the index when it is still valid
  void SetItem(int Index, const std::string& Text);
  int ItemIndex() const { return FIndex; }
  void SetItemIndex(int Index);  // no event; -1 or out of range: none
  // The user picked an item: the index moves, then OnClick (also when it was selected already).
  void UserSelect(int Index);
  TNotifyEvent OnClick;

 private:
  std::vector<std::string> FItems;
  int FIndex = -1;
};

// A drop-down list the user can only pick from.
class TComboBox : public TControl {
 public:
  TComboBox(TControl* Parent, const TCreate& Create);
  const std::vector<std::string>& Items() const { return FItems; }
  int ItemCount() const { return static_cast<int>(FItems.size()); }
  void SetItems(std::vector<std::string> Items);  // keeps the index when it is still valid
  void SetItem(int Index, const std::string& Text);
  void AddItem(const std::string& Text);
  void Clear();  // no items, no selection
  int ItemIndex() const { return FIndex; }
  void SetItemIndex(int Index);  // no event; -1 or out of range: none
  // The selected item's text, empty with none.
  std::string Text() const;
  // The user picked an item: the index moves, then OnChange (only when it moved).
  void UserSelect(int Index);
  TNotifyEvent OnChange;

 private:
  std::vector<std::string> FItems;
  int FIndex = -1;
};

// A read-only multi-line text with a vertical scroll bar.
class TMemo : public TControl {
 public:
  TMemo(TControl* Parent, const TCreate& Create);
  const std::vector<std::string>& Lines() const { return FLines; }
  // The text as the edit control holds it: the lines joined by CR LF.
  std::string Text() const;
  void SetText(const std::string& Text);  // split at CR LF, LF or CR
  void Clear();
  // Adds a line at the end and scrolls to it. With a character limit, the oldest lines are
  // removed first so that the new line fits: the newest lines are always shown.
  void AppendLine(const std::string& Line);
  // At most this many characters (UTF-16 units, line breaks counted as two); 0: no limit.
  size_t MaxLength() const { return FMaxLength; }
  void SetMaxLength(size_t N);
  // Characters held now, counted as MaxLength counts them.
  size_t Length() const { return FLength; }

 private:
  void DropFront(size_t Count);
  std::vector<std::string> FLines;
  size_t FMaxLength = 0;
  size_t FLength = 0;
  bool FQuiet = false;  // SetText: one change for the whole text
};

// A whole-number edit with up/down arrows.
class TSpinEdit : public TControl {
 public:
  TSpinEdit(TControl* Parent, const TCreate& Create);
  int MinValue() const { return FMin; }
  int MaxValue() const { return FMax; }
  int Increment() const { return FIncrement; }
  // The arrows step by the increment; a typed or set value off the step is kept as it is.
  void SetRange(int Min, int Max, int Increment = 1);
  int Value() const { return FValue; }
  void SetValue(int V);  // kept within the range; no event
  // The user typed a value or used the arrows (the value is kept within the range).
  void UserSetValue(int V);
  TNotifyEvent OnChange;

 private:
  int FMin = 0;
  int FMax = 100;
  int FIncrement = 1;
  int FValue = 0;
};

class TProgressBar : public TControl {
 public:
  TProgressBar(TControl* Parent, const TCreate& Create);
  int Min() const { return FMin; }
  int Max() const { return FMax; }
  void SetRange(int Min, int Max);
  int Position() const { return FPosition; }
  void SetPosition(int V);  // kept within the range

 private:
  int FMin = 0;
  int FMax = 100;
  int FPosition = 0;
};

// A grid of text cells; row 0 and column 0 are fixed (titles) by default.
class TStringGrid : public TControl {
 public:
  TStringGrid(TControl* Parent, const TCreate& Create);
  int ColCount() const { return FCols; }
  int RowCount() const { return FRows; }
  void SetColCount(int N);
  void SetRowCount(int N);  // rows past the count are dropped with their cells
  int FixedRows() const { return FFixedRows; }
  int FixedCols() const { return FFixedCols; }
  void SetFixed(int Rows, int Cols);
  // Options: the user may drag column borders; a click selects the whole row.
  bool ColSizing() const { return FColSizing; }
  bool RowSelect() const { return FRowSelect; }
  void SetOptions(bool ColSizing, bool RowSelect);
  // Cells(Col, Row); empty outside the grid.
  std::string Cell(int Col, int Row) const;
  void SetCell(int Col, int Row, const std::string& Text);  // ignored outside the grid
  int ColWidth(int Col) const;
  void SetColWidth(int Col, int Width);
  // Every column as wide as its widest cell (measured by the backend) plus padding.
  void AutoSizeColumns();
  // The row the user selected (a data row), or -1.
  int SelectedRow() const { return FSelectedRow; }
  void UserSelectRow(int Row);

 private:
  int FCols = 5;
  int FRows = 5;
  int FFixedRows = 1;
  int FFixedCols = 1;
  bool FColSizing = false;
  bool FRowSelect = false;
  int FSelectedRow = -1;
  std::vector<std::vector<std::string>> FCells;  // [row][col]
  std::vector<int> FColWidths;
};

// A control the program paints itself, in OnPaint, through Canvas().
class TPaintBox : public TControl {
 public:
  TPaintBox(TControl* Parent, const TCreate& Create);
  ~TPaintBox() override;
  // Valid inside OnPaint only.
  TCanvas& Canvas();
  // Asks for a repaint (OnPaint runs from the message loop).
  void Invalidate();
  TNotifyEvent OnPaint;
  // The backend's paint entry: makes Canvas() draw on C for the duration of OnPaint.
  void Paint(TCanvas& C);

 private:
  TCanvas* FCanvas = nullptr;
};

}  // namespace tk
