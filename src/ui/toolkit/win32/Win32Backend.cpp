// The backend object: Common Controls, the GUI font, the message loop and its nested loops,
// timers, deferred calls, hidden windows and the peers' factory.
#include "ui/toolkit/win32/Win32Backend.h"

#include "ui/toolkit/win32/Win32MainThreadBinding.h"
#include "ui/toolkit/win32/Win32Peer.h"

namespace tk::win32 {

namespace {

const wchar_t kBackendClass[] = L"VtTkBackend";
const wchar_t kHiddenClass[] = L"VtTkHiddenWindow";
constexpr UINT kDeferredMessage = WM_APP + 0x61;

// The system's message font: the GUI font of every control.
LOGFONTW MessageFont() {
  NONCLIENTMETRICSW ncm = {};
  ncm.cbSize = sizeof(ncm);
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0)) return ncm.lfMessageFont;
  LOGFONTW lf = {};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
  return lf;
}

struct THiddenWindow {
  TWndProc Proc;
};

LRESULT CALLBACK HiddenProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  auto* hidden = reinterpret_cast<THiddenWindow*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
  if (!hidden) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  intptr_t result = 0;
  bool answered = false;
  Guarded([&] {
    result = hidden->Proc(Wnd, Msg, WParam, LParam);
    answered = true;
  });
  return answered ? result : DefWindowProcW(Wnd, Msg, WParam, LParam);
}

void RegisterClasses(WNDPROC BackendProc) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = BackendProc;
  wc.hInstance = instance;
  wc.lpszClassName = kBackendClass;
  RegisterClassExW(&wc);  // fails harmlessly when an earlier backend registered it
  wc.lpfnWndProc = &HiddenProc;
  wc.lpszClassName = kHiddenClass;
  RegisterClassExW(&wc);
}

}  // namespace

HFONT MakeFont(const TFontInfo& Info) {
  LOGFONTW lf = MessageFont();
  if (!Info.Name.empty()) {
    std::wstring name = Wide(Info.Name).substr(0, LF_FACESIZE - 1);
    std::fill(std::begin(lf.lfFaceName), std::end(lf.lfFaceName), L'\0');
    std::copy(name.begin(), name.end(), lf.lfFaceName);
  }
  HDC screen = GetDC(nullptr);
  lf.lfHeight = -MulDiv(Info.SizePt, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  lf.lfWidth = 0;
  lf.lfWeight = Info.Bold ? FW_BOLD : FW_NORMAL;
  return CreateFontIndirectW(&lf);
}

struct TBackendWndProc {
  static LRESULT CALLBACK Proc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
    auto* self = reinterpret_cast<TWin32Backend*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
    if (self && Msg == WM_TIMER) {
      self->FireTimer(WParam);
      return 0;
    }
    if (self && Msg == kDeferredMessage) {
      self->RunDeferred();
      return 0;
    }
    return DefWindowProcW(Wnd, Msg, WParam, LParam);
  }
};

TWin32Backend::TWin32Backend() {
  INITCOMMONCONTROLSEX icc = {};
  icc.dwSize = sizeof(icc);
  icc.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS |
              ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES;
  InitCommonControlsEx(&icc);
  LOGFONTW lf = MessageFont();
  FGuiFont = CreateFontIndirectW(&lf);
  RegisterClasses(&TBackendWndProc::Proc);
  HWND wnd = CreateWindowExW(0, kBackendClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  FWnd = wnd;
  // The dispatcher's calls run in whatever loop this thread is in, modal ones included.
  if (HasMainThread() && MainThread().IsMainThread())
    FBinding = std::make_unique<ui::win32::Win32MainThreadBinding>(MainThread());
}

TWin32Backend::~TWin32Backend() {
  FBinding.reset();
  if (FWnd) {
    SetWindowLongPtrW(static_cast<HWND>(FWnd), GWLP_USERDATA, 0);
    DestroyWindow(static_cast<HWND>(FWnd));
  }
  if (FGuiFont) DeleteObject(static_cast<HFONT>(FGuiFont));
}

std::unique_ptr<IControlPeer> TWin32Backend::CreatePeer(TControl& Control) {
  switch (Control.Kind()) {
    case TControlKind::Form: return MakeFormPeer(static_cast<TForm&>(Control), *this);
    case TControlKind::Panel: return MakePanelPeer(Control, *this);
    case TControlKind::PageControl: return MakePageControlPeer(Control, *this);
    case TControlKind::TabSheet: return MakeTabSheetPeer(Control, *this);
    case TControlKind::GroupBox: return MakeGroupBoxPeer(Control, *this);
    case TControlKind::Label: return MakeLabelPeer(Control, *this);
    case TControlKind::Button: return MakeButtonPeer(Control, *this);
    case TControlKind::CheckBox: return MakeCheckBoxPeer(Control, *this);
    case TControlKind::RadioGroup: return MakeRadioGroupPeer(Control, *this);
    case TControlKind::ComboBox: return MakeComboBoxPeer(Control, *this);
    case TControlKind::Memo: return MakeMemoPeer(Control, *this);
    case TControlKind::SpinEdit: return MakeSpinEditPeer(Control, *this);
    case TControlKind::ProgressBar: return MakeProgressBarPeer(Control, *this);
    case TControlKind::StringGrid: return MakeStringGridPeer(Control, *this);
    case TControlKind::PaintBox: return MakePaintBoxPeer(Control, *this);
  }
  return nullptr;
}

TSize TWin32Backend::MeasureText(const std::string& Text, const TFontInfo& Font) {
  HFONT font = MakeFont(Font);
  SIZE s = TextSize(font, Wide(Text));
  DeleteObject(font);
  return {s.cx, s.cy};
}

TSize TWin32Backend::FormFrame(TForm& Form) {
  TRect in;
  if (Form.Peer()) {
    in = Form.Peer()->ClientInsets();
  } else {
    RECT r = {0, 0, 0, 0};
    AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CONTROLPARENT);
    in = {-r.left, -r.top, r.right, r.bottom};
  }
  return {in.Left + in.Right, in.Top + in.Bottom};
}

int TWin32Backend::StartTimer(TTimer& Timer, unsigned IntervalMs) {
  const uintptr_t id = FNextTimer++;
  if (!SetTimer(static_cast<HWND>(FWnd), id, IntervalMs, nullptr)) return 0;
  FTimers[id] = &Timer;
  return static_cast<int>(id);
}

void TWin32Backend::StopTimer(int Id) {
  if (Id <= 0) return;
  KillTimer(static_cast<HWND>(FWnd), static_cast<uintptr_t>(Id));
  // A WM_TIMER already waiting finds no timer any more.
  FTimers.erase(static_cast<uintptr_t>(Id));
}

void TWin32Backend::FireTimer(uintptr_t Id) {
  auto it = FTimers.find(Id);
  if (it == FTimers.end()) return;
  TTimer* timer = it->second;
  Guarded([&] { timer->Fire(); });
}

void TWin32Backend::PostDeferred(std::function<void()> Fn) {
  {
    std::lock_guard<std::mutex> lock(FDeferredLock);
    FDeferred.push_back(std::move(Fn));
  }
  PostMessageW(static_cast<HWND>(FWnd), kDeferredMessage, 0, 0);
}

void TWin32Backend::RunDeferred() {
  std::function<void()> fn;
  {
    std::lock_guard<std::mutex> lock(FDeferredLock);
    if (FDeferred.empty()) return;
    fn = std::move(FDeferred.front());
    FDeferred.pop_front();
  }
  Guarded([&] { fn(); });
}

void TWin32Backend::Dispatch(void* Msg) {
  MSG* msg = static_cast<MSG*>(Msg);
  // Tab, arrows, Enter and Escape move between the controls of our windows as in a dialog.
  HWND root = msg->hwnd ? GetAncestor(msg->hwnd, GA_ROOT) : nullptr;
  if (!root || !GetPropW(root, KeyboardNavigationProp()) || !IsDialogMessageW(root, msg)) {
    TranslateMessage(msg);
    DispatchMessageW(msg);
    PaintWhenStarved();
  }
  // The workers' calls go on once the input that made them step aside has been taken.
  if (FBinding) FBinding->Resume();
}

namespace {
constexpr unsigned long long kPaintEveryMs = 50;

BOOL CALLBACK UpdateThreadWindow(HWND Wnd, LPARAM) {
  if (IsWindowVisible(Wnd)) RedrawWindow(Wnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  return TRUE;
}
}  // namespace

// WM_PAINT comes only when nothing else waits in the queue. A run's stream of posted calls (log
// lines, progress) would keep it away for the whole run: the log would show stale scrolled
// copies of its lines and the window would look hung. What waits to be painted is painted at
// least every 50 ms.
void TWin32Backend::PaintWhenStarved() {
  if (!(HIWORD(GetQueueStatus(QS_PAINT)) & QS_PAINT)) return;
  const unsigned long long now = GetTickCount64();
  if (now - FLastPaintTick < kPaintEveryMs) return;
  FLastPaintTick = now;
  EnumThreadWindows(GetCurrentThreadId(), &UpdateThreadWindow, 0);
}

void TWin32Backend::Run(TForm& Main) {
  if (!Main.Visible()) Main.Show();
  MSG msg;
  // The close of the main window ends the loop; no WM_QUIT is posted, so the boxes that the
  // program's shutdown may still show get a working loop of their own.
  while (!Main.Closed()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) break;
    Dispatch(&msg);
  }
}

void TWin32Backend::RunModal(TForm& Form) {
  // The owner takes no input meanwhile (ShowModal may have disabled it already; then it also
  // enables it again).
  HWND owner = Form.Owner() ? static_cast<HWND>(Form.Owner()->Handle()) : nullptr;
  const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  if (!Form.Visible()) Form.Show();
  MSG msg;
  while (!Form.Closed()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      // The program is ending: the outer loop must see the quit too.
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    Dispatch(&msg);
  }
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
  HWND wnd = static_cast<HWND>(Form.Handle());
  if (IsWindowVisible(wnd)) ShowWindow(wnd, SW_HIDE);
}

void TWin32Backend::ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    Dispatch(&msg);
  }
}

void TWin32Backend::FormClosed(TForm& Form) {
  HWND wnd = static_cast<HWND>(Form.Handle());
  // The owner first, so that the activation goes back to it and not to another program.
  if (Form.IsModal() && Form.Owner()) EnableWindow(static_cast<HWND>(Form.Owner()->Handle()), TRUE);
  if (wnd) ShowWindow(wnd, SW_HIDE);
  // Wakes a loop waiting in GetMessage, so that it sees the close.
  PostMessageW(static_cast<HWND>(FWnd), WM_NULL, 0, 0);
}

void* TWin32Backend::AllocateHWnd(TWndProc Proc) {
  // Top-level, not message-only: device notifications are broadcast to top-level windows only.
  HWND wnd = CreateWindowExW(0, kHiddenClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  if (!wnd) return nullptr;
  SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new THiddenWindow{std::move(Proc)}));
  return wnd;
}

void TWin32Backend::DeallocateHWnd(void* Wnd) {
  HWND wnd = static_cast<HWND>(Wnd);
  if (!wnd || !IsWindow(wnd)) return;
  auto* hidden = reinterpret_cast<THiddenWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  DestroyWindow(wnd);
  delete hidden;
}

intptr_t TWin32Backend::DefWindowProc(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  return DefWindowProcW(static_cast<HWND>(Wnd), Msg, WParam, LParam);
}

bool TWin32Backend::PostWindowMessage(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  HWND wnd = static_cast<HWND>(Wnd);
  if (!wnd || !IsWindow(wnd)) return false;
  // Windows posts no system message whose parameters point to memory (PostMessageW of a
  // WM_DEVICECHANGE broadcast fails with ERROR_MESSAGE_SYNC_ONLY), so the message reaches the
  // window's procedure from the loop as a deferred call, in the order it was posted.
  PostDeferred([wnd, Msg, WParam, LParam] {
    if (IsWindow(wnd)) SendMessageW(wnd, Msg, WParam, LParam);
  });
  return true;
}

}  // namespace tk::win32
