// The string grid as a list view in report mode: the fixed row is the header, the other rows
// are items; the user may resize columns (when the grid allows it) and selects whole rows.
#include "ui/toolkit/win32/Win32Peer.h"

#include <vector>

namespace tk::win32 {

namespace {

LRESULT CALLBACK GridSubclassProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id, DWORD_PTR Data);

class TStringGridPeer final : public TWinPeer {
 public:
  TStringGridPeer(TControl& C, TWin32Backend& B) : TWinPeer(C, B), FGrid(static_cast<TStringGrid&>(C)) {
    if (!CreateMain(WC_LISTVIEWW, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP, WS_EX_CLIENTEDGE))
      return;
    // The header's notifications go to the list view itself: a column the user may not resize
    // is refused there.
    SetWindowSubclass(FWnd, &GridSubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
    Rebuild();
    ApplyHint();
  }
  ~TStringGridPeer() override {
    if (FWnd) RemoveWindowSubclass(FWnd, &GridSubclassProc, 1);
  }

  bool Notify(NMHDR* Hdr, LRESULT& Result) override {
    if (Hdr->code != LVN_ITEMCHANGED || FUpdating) return false;
    const auto* lv = reinterpret_cast<NMLISTVIEW*>(Hdr);
    const bool selected = (lv->uChanged & LVIF_STATE) && (lv->uNewState & LVIS_SELECTED) &&
                          !(lv->uOldState & LVIS_SELECTED) && lv->iItem >= 0;
    if (!selected) return false;
    const int row = lv->iItem + FGrid.FixedRows();
    Guarded([&] { FGrid.UserSelectRow(row); });
    Result = 0;
    return true;
  }

  // A header notification; true when it is refused.
  bool RefuseHeader(NMHDR* Hdr) {
    if (FGrid.ColSizing()) return false;
    switch (Hdr->code) {
      case HDN_BEGINTRACKW:
      case HDN_BEGINTRACKA:
      case HDN_DIVIDERDBLCLICKW:
      case HDN_DIVIDERDBLCLICKA: return true;
      default: return false;
    }
  }

 protected:
  void ApplyCaption() override {}
  void OnChanged(TChange What, size_t) override {
    switch (What) {
      case TChange::Grid: Rebuild(); break;
      case TChange::Cells: UpdateCells(); break;
      case TChange::ColWidths: ApplyWidths(); break;
      default: break;
    }
  }

 private:
  int DataRows() const { return std::max(0, FGrid.RowCount() - FGrid.FixedRows()); }

  void Rebuild() {
    FUpdating = true;
    SendMessageW(FWnd, WM_SETREDRAW, FALSE, 0);
    SendMessageW(FWnd, LVM_DELETEALLITEMS, 0, 0);
    while (SendMessageW(FWnd, LVM_DELETECOLUMN, 0, 0)) {}
    LONG_PTR style = GetWindowLongPtrW(FWnd, GWL_STYLE) & ~static_cast<LONG_PTR>(LVS_NOCOLUMNHEADER);
    if (FGrid.FixedRows() == 0) style |= LVS_NOCOLUMNHEADER;
    SetWindowLongPtrW(FWnd, GWL_STYLE, style);
    const DWORD ex = LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER | (FGrid.RowSelect() ? LVS_EX_FULLROWSELECT : 0);
    SendMessageW(FWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, ex);

    FShown.assign(static_cast<size_t>(FGrid.RowCount()), std::vector<std::string>(FGrid.ColCount()));
    for (int c = 0; c < FGrid.ColCount(); c++) {
      std::wstring title = FGrid.FixedRows() > 0 ? Wide(FGrid.Cell(c, 0)) : std::wstring();
      LVCOLUMNW col = {};
      col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
      col.pszText = title.data();
      col.cx = FGrid.ColWidth(c);
      col.iSubItem = c;
      SendMessageW(FWnd, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
      if (FGrid.FixedRows() > 0) FShown[0][c] = FGrid.Cell(c, 0);
    }
    for (int r = 0; r < DataRows(); r++) {
      LVITEMW item = {};
      item.mask = LVIF_TEXT;
      item.iItem = r;
      item.pszText = const_cast<wchar_t*>(L"");
      SendMessageW(FWnd, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    FUpdating = false;
    UpdateCells();
    SendMessageW(FWnd, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(FWnd, nullptr, TRUE);
  }

  // Only the cells that differ from what the list view shows are written.
  void UpdateCells() {
    if (FShown.size() != static_cast<size_t>(FGrid.RowCount()) ||
        (!FShown.empty() && FShown[0].size() != static_cast<size_t>(FGrid.ColCount()))) {
      Rebuild();
      return;
    }
    FUpdating = true;
    for (int r = 0; r < FGrid.RowCount(); r++) {
      for (int c = 0; c < FGrid.ColCount(); c++) {
        std::string text = FGrid.Cell(c, r);
        if (text == FShown[r][c]) continue;
        FShown[r][c] = text;
        std::wstring w = Wide(text);
        if (r < FGrid.FixedRows()) {
          if (r != 0) continue;
          LVCOLUMNW col = {};
          col.mask = LVCF_TEXT;
          col.pszText = w.data();
          SendMessageW(FWnd, LVM_SETCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
        } else {
          LVITEMW item = {};
          item.iSubItem = c;
          item.pszText = w.data();
          SendMessageW(FWnd, LVM_SETITEMTEXTW, r - FGrid.FixedRows(), reinterpret_cast<LPARAM>(&item));
        }
      }
    }
    FUpdating = false;
  }

  void ApplyWidths() {
    for (int c = 0; c < FGrid.ColCount(); c++) SendMessageW(FWnd, LVM_SETCOLUMNWIDTH, c, FGrid.ColWidth(c));
  }

  TStringGrid& FGrid;
  std::vector<std::vector<std::string>> FShown;  // [row][col] as the list view shows them
  bool FUpdating = false;                        // our own changes raise no selection
};

LRESULT CALLBACK GridSubclassProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id, DWORD_PTR Data) {
  if (Msg == WM_NCDESTROY) RemoveWindowSubclass(Wnd, &GridSubclassProc, Id);
  if (Msg == WM_NOTIFY) {
    auto* hdr = reinterpret_cast<NMHDR*>(LParam);
    auto* peer = reinterpret_cast<TStringGridPeer*>(Data);
    if (hdr && peer && hdr->hwndFrom == reinterpret_cast<HWND>(SendMessageW(Wnd, LVM_GETHEADER, 0, 0)) &&
        peer->RefuseHeader(hdr))
      return TRUE;
  }
  return DefSubclassProc(Wnd, Msg, WParam, LParam);
}

}  // namespace

std::unique_ptr<IControlPeer> MakeStringGridPeer(TControl& C, TWin32Backend& B) {
  return std::make_unique<TStringGridPeer>(C, B);
}

}  // namespace tk::win32
