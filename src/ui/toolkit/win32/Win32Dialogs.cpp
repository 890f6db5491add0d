// The text-input dialog (a small modal window: prompt, one edit, OK and Cancel) and the
// save-file dialog (GetSaveFileNameW, which never changes the current directory here).
#include "ui/toolkit/win32/Win32Peer.h"

#include <algorithm>
#include <vector>

namespace tk::win32 {

namespace {

const wchar_t kInputClass[] = L"VtTkInputDialog";

struct TInputState {
  HWND Edit = nullptr;
  bool Done = false;
  bool Ok = false;
  std::string Value;
};

LRESULT CALLBACK InputProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(LParam);
    SetWindowLongPtrW(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* state = reinterpret_cast<TInputState*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
  if (state) {
    switch (Msg) {
      // Enter and Escape come as IDOK and IDCANCEL through IsDialogMessageW.
      case WM_COMMAND:
        if (LOWORD(WParam) == IDOK) {
          state->Value = WindowText(state->Edit);
          state->Ok = true;
          state->Done = true;
          return 0;
        }
        if (LOWORD(WParam) == IDCANCEL) {
          state->Done = true;
          return 0;
        }
        break;
      case WM_CLOSE: state->Done = true; return 0;
      default: break;
    }
  }
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

const wchar_t* RegisterInputClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &InputProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kInputClass;
    return RegisterClassExW(&wc) != 0;
  }();
  (void)registered;
  return kInputClass;
}

HWND Child(HWND Parent, const wchar_t* Class, const std::wstring& Text, DWORD Style, DWORD ExStyle, int Id, int X,
           int Y, int W, int H, HFONT Font) {
  HWND w = CreateWindowExW(ExStyle, Class, Text.c_str(), Style | WS_CHILD | WS_VISIBLE, X, Y, W, H, Parent,
                           reinterpret_cast<HMENU>(INT_PTR(Id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
  return w;
}

}  // namespace

const wchar_t* InputDialogClass() { return RegisterInputClass(); }

bool TWin32Backend::InputQuery(TForm* Owner, const std::string& Caption, const std::string& Prompt,
                               std::string& Value) {
  HFONT font = static_cast<HFONT>(GuiFont());
  HWND owner = Owner ? static_cast<HWND>(Owner->Handle()) : nullptr;
  const int margin = 12, gap = 8, buttonW = 80, buttonH = 26;
  const std::wstring prompt = Wide(Prompt);
  SIZE promptSize = TextSize(font, prompt);
  const int innerW = std::clamp<int>(promptSize.cx, 280, 560);
  if (promptSize.cx > innerW) {
    // A long prompt wraps at the dialog's width.
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    RECT r = {0, 0, innerW, 0};
    DrawTextW(dc, prompt.c_str(), static_cast<int>(prompt.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    promptSize.cy = r.bottom;
  }
  const int editH = FontHeight(font) + 8;
  const int editY = margin + promptSize.cy + 6;
  const int buttonsY = editY + editH + gap + 4;
  const int clientW = innerW + 2 * margin, clientH = buttonsY + buttonH + margin;

  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT frame = {0, 0, clientW, clientH};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  RECT around;
  if (!owner || !IsWindowVisible(owner) || !GetWindowRect(owner, &around))
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
  const int x = around.left + (around.right - around.left - w) / 2;
  const int y = around.top + (around.bottom - around.top - h) / 2;

  TInputState state;
  HWND dlg = CreateWindowExW(exStyle, RegisterInputClass(), Wide(Caption).c_str(), style, x, y, w, h, owner,
                             nullptr, GetModuleHandleW(nullptr), &state);
  if (!dlg) return false;
  SetPropW(dlg, KeyboardNavigationProp(), dlg);
  Child(dlg, L"STATIC", prompt, SS_LEFT | SS_NOPREFIX, 0, -1, margin, margin, innerW, promptSize.cy, font);
  state.Edit = Child(dlg, WC_EDITW, Wide(Value), ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, 100, margin, editY,
                     innerW, editH, font);
  Child(dlg, L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 0, IDOK, clientW - margin - 2 * buttonW - gap,
        buttonsY, buttonW, buttonH, font);
  Child(dlg, L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, 0, IDCANCEL, clientW - margin - buttonW, buttonsY,
        buttonW, buttonH, font);

  if (owner) EnableWindow(owner, FALSE);
  ShowWindow(dlg, SW_SHOW);
  SetFocus(state.Edit);
  SendMessageW(state.Edit, EM_SETSEL, 0, -1);
  MSG msg;
  while (!state.Done) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    Dispatch(&msg);
  }
  // The owner first, so that it gets the activation back.
  if (owner) EnableWindow(owner, TRUE);
  DestroyWindow(dlg);
  if (!state.Ok) return false;
  Value = state.Value;
  return true;
}

std::wstring SaveDialogFilter(const std::string& Filter) {
  std::wstring out = Wide(Filter);
  std::replace(out.begin(), out.end(), L'|', L'\0');
  // Each entry ends with a NUL, the list with one more.
  out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

uint32_t SaveDialogFlags() { return OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY; }

bool TWin32Backend::SaveFileDialog(TForm* Owner, const TSaveDialogOptions& Options, std::string& Path) {
  std::vector<wchar_t> file(32768, L'\0');
  std::wstring name = Wide(Options.FileName);
  std::copy_n(name.begin(), std::min(name.size(), file.size() - 1), file.begin());
  const std::wstring filter = SaveDialogFilter(Options.Filter);
  std::wstring ext = Wide(Options.DefaultExt);
  if (!ext.empty() && ext.front() == L'.') ext.erase(0, 1);  // Windows wants it without the dot
  const std::wstring title = Wide(Options.Title);
  const std::wstring dir = Wide(Options.InitialDir);

  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = Owner ? static_cast<HWND>(Owner->Handle()) : nullptr;
  ofn.lpstrFilter = Options.Filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = dir.empty() ? nullptr : dir.c_str();
  ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
  ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
  ofn.Flags = SaveDialogFlags();
  if (!GetSaveFileNameW(&ofn)) return false;
  Path = Narrow(file.data(), wcsnlen(file.data(), file.size()));
  return true;
}

}  // namespace tk::win32
