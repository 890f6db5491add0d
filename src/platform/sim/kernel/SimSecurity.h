// The simulated process token: whether the process runs elevated, and faults of the token calls.
#pragma once

#include <mutex>

#include "platform/PlatformTypes.h"

namespace plat::sim {

class SimKernel;

class SimSecurity {
 public:
  explicit SimSecurity(SimKernel& kernel) : kernel_(kernel) {}

  void SetElevated(bool elevated);
  // A non-zero error makes OpenProcessToken / GetTokenInformation fail with it.
  void SetOpenTokenError(DWORD error);
  void SetQueryTokenError(DWORD error);
  HANDLE GetCurrentProcess();
  BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token);
  BOOL GetTokenInformation(HANDLE token, DWORD infoClass, void* info, DWORD length, DWORD* returnLength);

 private:
  SimKernel& kernel_;
  std::mutex mu_;
  bool elevated_ = true;
  DWORD openError_ = 0;
  DWORD queryError_ = 0;
};

}  // namespace plat::sim
