// The main window on the Win32 backend, as the demo runs it: a simulated machine in real time
// behind the platform (the message loop on the main thread is never seen waiting by the
// machine), the main-thread dispatcher bound to the loop, real windows. Boxes are recorded and
// answered OK; device notifications go to the real windows through the loop, as in the demo.
// They need a display: under wine they run inside Xvfb (tools/test-all), and skip without one.
#pragma once

#include "core/uLang.h"
#include "core/uMainThread.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimMachineText.h"
#include "ui/toolkit/uTkApplication.h"
#include "ui/toolkit/win32/Win32Backend.h"
#include "ui/uMainForm.h"

#include "ui/toolkit/win32/Win32Api.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mainwin32 {

// Under wine without an X display no window can be shown.
inline bool NoDisplay() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
  return wine && GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0;
}

// The machine: the system disk and one BOT enclosure (the list's one disk), small enough to
// build at once.
inline const char* kMachine =
    "disk 0 sata size=64G\n"
    "volume C fs=ntfs\n"
    "disk 1 bot size=32G product=\"Portable SSD\" serial=BOT0001\n"
    "volume E fs=exfat\n";

class MainFormWin32Test : public ::testing::Test {
 protected:
  // The machine the window starts on.
  virtual const char* MachineText() const { return kMachine; }
  // What the text cannot say, added before the window starts.
  virtual void AddToMachine() {}

  void SetUp() override {
    if (NoDisplay()) GTEST_SKIP() << "no display (run inside Xvfb: tools/test-all windows)";
    language_ = GetCurrentLanguage();
    std::string error;
    ASSERT_TRUE(plat::sim::BuildMachineFromText(*machine_, MachineText(), &error)) << error;
    AddToMachine();
    machine_->Kernel().SetRealTime(true);
    machine_->Desktop().SetBoxHandler([this](const plat::sim::MessageBoxCall& c) {
      std::lock_guard<std::mutex> lk(boxesLock_);
      boxes_.push_back(c);
      return IDOK;
    });
    machine_->Desktop().SetWindowMessageSink([](plat::HWND w, plat::UINT m, plat::WPARAM wp, plat::LPARAM lp) {
      if (tk::HasBackend()) tk::PostWindowMessage(w, m, wp, lp);
    });
    BeforeWindow();
    main_ = std::make_unique<TScopedMainThread>();
    backend_ = std::make_unique<tk::win32::TWin32Backend>();
    scopedBackend_ = std::make_unique<tk::TScopedBackend>(backend_.get());
    form_ = tk::CreateForm<TMainForm>();
    form_->Show();
    // Posted after the window's own deferred layout: once it ran, the window is as the user sees it.
    bool laidOut = false;
    tk::Application().PostDeferred([&laidOut] { laidOut = true; });
    ASSERT_TRUE(PumpUntil([&] { return laidOut; }));
    // And the first disk refresh has listed the enclosure (and selected it), as the demo waits for.
    ASSERT_TRUE(PumpUntil([&] { return form_->CmbDisk->ItemCount() > 0; }));
    Pump();
  }

  void TearDown() override {
    if (form_) tk::DestroyForm(std::move(form_));
    scopedBackend_.reset();
    backend_.reset();
    main_.reset();
    machine_->Shutdown();
    machine_->Desktop().SetBoxHandler(nullptr);
    machine_->Desktop().SetWindowMessageSink(nullptr);
    // The language is the program's one global: the next test finds it as this one did.
    SetCurrentLanguage(language_);
  }

  // The machine is built; the window comes next.
  virtual void BeforeWindow() {}

  // Handles messages until Condition holds or LimitMs passed; true when it held.
  bool PumpUntil(const std::function<bool()>& Condition, unsigned LimitMs = 5000) {
    const ULONGLONG end = GetTickCount64() + LimitMs;
    while (!Condition()) {
      if (GetTickCount64() >= end) return false;
      backend_->ProcessMessages();
      if (!Condition()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
  }
  void Pump() {
    PumpUntil([] { return false; }, 30);
  }

  std::vector<plat::sim::MessageBoxCall> Boxes() {
    std::lock_guard<std::mutex> lk(boxesLock_);
    return boxes_;
  }

  static HWND Wnd(const tk::TControl* C) { return static_cast<HWND>(C->Peer()->Handle()); }
  static std::string ClassOf(HWND W) {
    wchar_t name[128] = {};
    const int n = GetClassNameW(W, name, 128);
    return tk::win32::Narrow(name, n > 0 ? static_cast<size_t>(n) : 0);
  }
  // A window's box in the client coordinates of its parent window.
  static RECT RectInParent(HWND W) {
    RECT r;
    GetWindowRect(W, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(W), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }

  plat::sim::ScopedSimMachine machine_;
  std::unique_ptr<TScopedMainThread> main_;
  std::unique_ptr<tk::win32::TWin32Backend> backend_;
  std::unique_ptr<tk::TScopedBackend> scopedBackend_;
  std::unique_ptr<TMainForm> form_;
  std::mutex boxesLock_;
  std::vector<plat::sim::MessageBoxCall> boxes_;
  TUiLanguage language_ = TUiLanguage::ulKorean;
};

}  // namespace mainwin32
