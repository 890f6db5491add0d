// An open device handle that is closed on every path out of the scope that opened it.
#pragma once

#include <string>
#include <utility>

#include "platform/Platform.h"

class TDeviceHandle {
 public:
  TDeviceHandle() = default;
  explicit TDeviceHandle(plat::HANDLE H) : FHandle(H) {}
  ~TDeviceHandle() { Close(); }
  TDeviceHandle(TDeviceHandle&& Other) noexcept : FHandle(std::exchange(Other.FHandle, Invalid())) {}
  TDeviceHandle& operator=(TDeviceHandle&& Other) noexcept {
    if (this != &Other) {
      Close();
      FHandle = std::exchange(Other.FHandle, Invalid());
    }
    return *this;
  }
  TDeviceHandle(const TDeviceHandle&) = delete;
  TDeviceHandle& operator=(const TDeviceHandle&) = delete;

  bool Valid() const { return plat::IsValidHandle(FHandle); }
  plat::HANDLE Get() const { return FHandle; }
  // Hands the handle to the caller, who closes it from now on.
  plat::HANDLE Release() { return std::exchange(FHandle, Invalid()); }

  // Closes now. Keeps the thread's last error as it was, so a caller that reads the cause of a
  // failed request after the close still reads the request's error.
  void Close() {
    if (!Valid()) return;
    const plat::DWORD Err = plat::Win().GetLastError();
    plat::Win().CloseHandle(FHandle);
    plat::Win().SetLastError(Err);
    FHandle = Invalid();
  }

 private:
  static plat::HANDLE Invalid() { return plat::InvalidHandleValue(); }
  plat::HANDLE FHandle = Invalid();
};

// Opens a disk or volume path for reading and writing, shared for both, open existing: the one
// way the program opens a device it sends requests to. Invalid on failure (the last error says why).
inline TDeviceHandle OpenDeviceReadWrite(const std::string& Path) {
  using namespace plat;
  return TDeviceHandle(Win().CreateFileW(Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
}

// An open device as a command sees it: the handle (not owned) and the path it was opened by,
// which the command's log line names.
struct TDeviceRef {
  plat::HANDLE Handle = plat::InvalidHandleValue();
  std::string Path;
};
