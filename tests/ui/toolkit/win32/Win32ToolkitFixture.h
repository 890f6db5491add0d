// Shared by the Win32 backend's tests: the real platform, a main thread bound to the message
// loop, the backend installed, and helpers that pump messages until something has happened.
// They need a display: under wine they run inside Xvfb (tools/test-all), and skip without one.
#pragma once

#include "platform/win32/Win32Platform.h"
#include "core/uMainThread.h"
#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/uTkForm.h"
#include "ui/toolkit/win32/Win32Backend.h"

#include "ui/toolkit/win32/Win32Api.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include <ostream>

// Window boxes compare and print in test failures.
inline bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline void PrintTo(const RECT& r, std::ostream* os) {
  *os << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}

namespace tk::win32::testing {

// A creation record (aggregate initialisation with fields left out warns).
inline TCreate Cr(std::string Name, TBounds Bounds = {}, TAnchors Anchors = kAnchorsDefault,
                  std::string Caption = {}) {
  TCreate c;
  c.Name = std::move(Name);
  c.Bounds = Bounds;
  c.Anchors = Anchors;
  c.Caption = std::move(Caption);
  return c;
}

// Under wine without an X display no window can be shown.
inline bool NoDisplay() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
  return wine && GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0;
}

class Win32ToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (NoDisplay()) GTEST_SKIP() << "no display (run inside Xvfb: tools/test-all windows)";
    Application().SetOnException([this](const std::string& Message) { exceptions_.push_back(Message); });
  }
  void TearDown() override { Application().SetOnException(nullptr); }

  // Handles messages until Condition holds or LimitMs passed; true when it held.
  bool PumpUntil(const std::function<bool()>& Condition, unsigned LimitMs = 5000) {
    const ULONGLONG end = GetTickCount64() + LimitMs;
    while (!Condition()) {
      if (GetTickCount64() >= end) return false;
      backend_.ProcessMessages();
      if (!Condition()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
  }
  // Handles what is waiting now.
  void Pump() {
    PumpUntil([] { return false; }, 30);
  }

  // A form with a client area of the given size, shown.
  std::unique_ptr<TForm> ShowForm(TSize Client = {640, 480}, const std::string& Caption = "Test") {
    auto form = std::make_unique<TForm>(nullptr, Cr("Form", {}, kAnchorsDefault, Caption));
    form->SetClientSize(Client);
    form->Show();
    Pump();
    return form;
  }

  // A window's box in the client coordinates of its parent window.
  static RECT RectInParent(HWND Wnd) {
    RECT r;
    GetWindowRect(Wnd, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(Wnd), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  static std::string ClassOf(HWND Wnd) {
    wchar_t name[128] = {};
    int n = GetClassNameW(Wnd, name, 128);
    return Narrow(name, n > 0 ? static_cast<size_t>(n) : 0);
  }
  static HWND Wnd(const TControl* C) { return static_cast<HWND>(C->Peer()->Handle()); }

  plat::win32::Win32Platform platform_;
  plat::ScopedPlatform scopedPlatform_{&platform_};
  TScopedMainThread main_;
  TWin32Backend backend_;
  TScopedBackend scopedBackend_{&backend_};
  std::vector<std::string> exceptions_;
};

}  // namespace tk::win32::testing
