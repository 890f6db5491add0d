// The application object, the installed backend and the hidden windows.
#include "ui/toolkit/uTkApplication.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/PlatformTypes.h"
#include "ui/toolkit/uTkModal.h"

namespace tk {

namespace {
std::atomic<IBackend*> g_backend{nullptr};
}  // namespace

IBackend& Backend() {
  IBackend* b = g_backend.load(std::memory_order_acquire);
  if (!b) {
    std::fputs("no window toolkit backend installed\n", stderr);
    std::abort();
  }
  return *b;
}

bool HasBackend() { return g_backend.load(std::memory_order_acquire) != nullptr; }

IBackend* InstallBackend(IBackend* B) { return g_backend.exchange(B, std::memory_order_acq_rel); }

// ---- application ----

TApplication& Application() {
  static TApplication app;
  return app;
}

void TApplication::Run(TForm& MainForm) {
  FMainForm = &MainForm;
  Backend().Run(MainForm);
  FMainForm = nullptr;
}

void TApplication::ProcessMessages() { Backend().ProcessMessages(); }

void TApplication::PostDeferred(std::function<void()> Fn) {
  Backend().PostDeferred([Fn = std::move(Fn)] { Application().Guard(Fn); });
}

void TApplication::HandleException(std::exception_ptr E) {
  const std::string message = ExceptionMessage(E);
  if (FOnException) {
    auto handler = FOnException;
    try {
      handler(message);
      return;
    } catch (...) {
      // The program's own handling failed: the box below still tells the user.
    }
  }
  MessageBox(FMainForm, message, "Error", plat::MB_OK | plat::MB_ICONERROR);
}

void TApplication::SetOnException(std::function<void(const std::string& Message)> Handler) {
  FOnException = std::move(Handler);
}

std::string TApplication::ExceptionMessage(std::exception_ptr E) {
  if (!E) return {};
  try {
    std::rethrow_exception(E);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

// ---- hidden windows ----

void* AllocateHWnd(TWndProc Proc) {
  return Backend().AllocateHWnd([Proc = std::move(Proc)](void* Wnd, uint32_t Msg, uintptr_t W, intptr_t L) {
    intptr_t result = 0;
    Application().Guard([&] { result = Proc(Wnd, Msg, W, L); });
    return result;
  });
}

void DeallocateHWnd(void* Wnd) {
  if (Wnd) Backend().DeallocateHWnd(Wnd);
}

intptr_t DefWindowProc(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  return Backend().DefWindowProc(Wnd, Msg, WParam, LParam);
}

bool PostWindowMessage(void* Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  return Backend().PostWindowMessage(Wnd, Msg, WParam, LParam);
}

}  // namespace tk
