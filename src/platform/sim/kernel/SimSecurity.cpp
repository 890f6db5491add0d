#include "platform/sim/kernel/SimSecurity.h"

#include "base/uByteOrder.h"
#include "platform/WinFsControl.h"
#include "platform/sim/kernel/SimKernel.h"

namespace plat::sim {

namespace {

class SimToken final : public SimObject {
 public:
  const char* Kind() const override { return "token"; }
};

// GetCurrentProcess' pseudo handle, as Windows returns it.
HANDLE CurrentProcessPseudoHandle() { return reinterpret_cast<HANDLE>(~uintptr_t(0)); }

BOOL Fail(DWORD e) {
  SimSetLastError(e);
  return FALSE_;
}

}  // namespace

void SimSecurity::SetElevated(bool elevated) {
  std::lock_guard<std::mutex> lk(mu_);
  elevated_ = elevated;
}
void SimSecurity::SetOpenTokenError(DWORD error) {
  std::lock_guard<std::mutex> lk(mu_);
  openError_ = error;
}
void SimSecurity::SetQueryTokenError(DWORD error) {
  std::lock_guard<std::mutex> lk(mu_);
  queryError_ = error;
}

HANDLE SimSecurity::GetCurrentProcess() { return CurrentProcessPseudoHandle(); }

BOOL SimSecurity::OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token) {
  if (token) *token = nullptr;
  if (process != CurrentProcessPseudoHandle() || !token) return Fail(ERROR_INVALID_HANDLE);
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (openError_) return Fail(openError_);
  }
  if (!(desiredAccess & fsc::TOKEN_QUERY)) return Fail(ERROR_ACCESS_DENIED);
  *token = kernel_.AddHandle(std::make_shared<SimToken>());
  return TRUE_;
}

BOOL SimSecurity::GetTokenInformation(HANDLE token, DWORD infoClass, void* info, DWORD length,
                                      DWORD* returnLength) {
  if (returnLength) *returnLength = 0;
  if (!kernel_.LookupAs<SimToken>(token)) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lk(mu_);
  if (queryError_) return Fail(queryError_);
  if (infoClass != fsc::TokenElevation) return Fail(ERROR_INVALID_PARAMETER);
  if (returnLength) *returnLength = fsc::kTokenElevationSize;
  if (!info || length < fsc::kTokenElevationSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
  TByteWriter({static_cast<uint8_t*>(info), fsc::kTokenElevationSize}).LE32(0, elevated_ ? 1 : 0);
  return TRUE_;
}

}  // namespace plat::sim
