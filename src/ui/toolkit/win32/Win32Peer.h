// The peers of the Win32 backend: the base every control's peer derives from, the routing of
// notifications to the control that sent them, and the factories of the kinds.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/win32/Win32Backend.h"

#include "ui/toolkit/win32/Win32Api.h"

namespace tk::win32 {

class TWinPeer : public IControlPeer {
 public:
  TWinPeer(TControl& Control, TWin32Backend& Backend);
  ~TWinPeer() override;

  // Bounds, visibility, enabled state, caption and hint are handled here; the rest by OnChanged.
  void Changed(TChange What, size_t Arg) override;
  // Default: the control's present size.
  TSize PreferredSize(int WrapWidth) override;
  // Default: no frame.
  TRect ClientInsets() override { return {}; }
  void* Handle() override { return FWnd; }

  TControl& Control() const { return FControl; }
  HWND Wnd() const { return FWnd; }
  // The window the children's windows are made in, and where their (0, 0) lies in it.
  virtual HWND ChildParent() { return FWnd; }
  virtual POINT ChildOrigin();

  // Notifications from this peer's windows, handed over by their parent. True when handled.
  virtual bool Command(HWND /*From*/, UINT /*Code*/, LRESULT& /*Result*/) { return false; }
  virtual bool Notify(NMHDR* /*Hdr*/, LRESULT& /*Result*/) { return false; }
  // A brush for WM_CTLCOLOR*; null for the default colours.
  virtual HBRUSH CtlColor(HWND /*From*/, UINT /*Msg*/, HDC /*Dc*/) { return nullptr; }

 protected:
  // Makes the control's main window in the parent's container, at the control's bounds.
  HWND CreateMain(const wchar_t* Class, DWORD Style, DWORD ExStyle = 0);
  // Makes a further window of this control (a spin edit's arrows, a radio button).
  HWND CreateExtra(HWND Parent, const wchar_t* Class, const std::wstring& Text, DWORD Style, DWORD ExStyle = 0);
  void DestroyExtra(HWND Wnd);
  // Marks a window as this peer's: notifications about it come here; the GUI font.
  void Adopt(HWND Wnd);

  virtual void OnChanged(TChange /*What*/, size_t /*Arg*/) {}
  // Moves the windows to the model's bounds (relative to the parent's client area).
  virtual void ApplyBounds();
  // Moves one of the control's windows to R (in its parent window's client coordinates); the
  // place it left shows what lies behind it.
  void MoveTo(HWND Wnd, const RECT& R);
  virtual void ApplyVisible();
  // Shows or hides one of the control's windows; a hidden one leaves no picture behind.
  void ShowOrHide(HWND Wnd, bool Visible);
  virtual void ApplyEnabled();
  virtual void ApplyCaption();
  virtual void ApplyHint();
  // Whether the window should be visible now (a tab sheet: only while its page is active).
  virtual bool WantVisible() { return FControl.Visible(); }
  // The windows that show the hint as a tooltip.
  virtual std::vector<HWND> HintWindows();
  // The model's bounds in the parent window's client coordinates.
  RECT PlacedRect();

  TControl& FControl;
  TWin32Backend& FBackend;
  HWND FWnd = nullptr;
  std::vector<HWND> FExtra;
  HWND FTooltip = nullptr;  // the form's tooltip window this control's hint was given to
  bool FHasTool = false;
};

// The peer of one of our windows, or null.
TWinPeer* PeerOf(HWND Wnd);
// A container's handling of WM_COMMAND, WM_NOTIFY and WM_CTLCOLOR*: hands the message to the
// peer of the window that sent it. True (with Result) when that peer handled it.
bool RouteToSender(UINT Msg, WPARAM WParam, LPARAM LParam, LRESULT& Result);
// Subclasses a common control that holds children (group box, tab control) so that their
// notifications reach their peers.
void SubclassContainer(HWND Wnd);
// The window class of panels and tab sheets; registered once.
const wchar_t* PanelClass();

// Text size in a font (an HFONT), as DrawText measures it (line breaks count); with WrapWidth,
// its words wrapped at that width as a label shows them.
SIZE TextSize(HFONT Font, const std::wstring& Text, int WrapWidth = 0);
// Line height of a font.
int FontHeight(HFONT Font);
// TextSize, as wide as the text's ink reaches when drawn: wine draws some texts (digits after
// colons) a pixel or two wider than any extent it reports, and a control as wide as the extent
// cuts the last glyph.
SIZE DrawnTextSize(HFONT Font, const std::wstring& Text, int WrapWidth = 0);
// Repaints Part of a window (all of it without one) together with what its parent shows behind
// it (a group box's own parent, which paints the box's inside): for controls that paint over
// their old picture, not around it.
void RepaintInParent(HWND Wnd, const RECT* Part = nullptr);

// A window property that marks the top-level windows whose keyboard navigation the loop runs
// through IsDialogMessageW.
const wchar_t* KeyboardNavigationProp();
// A font as a canvas or a measurement asks for it (an empty name: the GUI font's face).
HFONT MakeFont(const TFontInfo& Font);

// The tooltip window of a form (made on first use).
HWND FormTooltip(TForm& Form);

std::unique_ptr<IControlPeer> MakeFormPeer(TForm& Form, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakePanelPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakeGroupBoxPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakeLabelPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakeButtonPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakeCheckBoxPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakeRadioGroupPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakeComboBoxPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakeProgressBarPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakePageControlPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakeTabSheetPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakeMemoPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakeSpinEditPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakeStringGridPeer(TControl& C, TWin32Backend& B);
std::unique_ptr<IControlPeer> MakePaintBoxPeer(TControl& C, TWin32Backend& B);

// Runs a call into program code through the application's guard.
template <class F>
void Guarded(F&& Fn) {
  Application().Guard(std::forward<F>(Fn));
}

}  // namespace tk::win32
