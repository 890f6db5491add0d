#include "device/uAtaPassThrough.h"

#include "core/uLogger.h"

using namespace plat;

TDeviceHandle TAtaPassThroughEngine::OpenDeviceRW(const std::string& Path) {
  return TDeviceHandle(Win().CreateFileW(Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
}

uint8_t TAtaPassThroughEngine::SetBitValue(uint8_t Value, uint8_t Bit, bool State) {
  if (Bit > 7) return Value;
  const uint8_t Mask = static_cast<uint8_t>(1u << Bit);
  return State ? static_cast<uint8_t>(Value | Mask) : static_cast<uint8_t>(Value & ~Mask);
}

bool TAtaPassThroughEngine::TestBitValue(uint8_t Value, uint8_t Bit) {
  return Bit <= 7 && ((Value >> Bit) & 1u) != 0;
}

TDeviceResult TAtaPassThroughEngine::RunScsi(const std::string& Path, const TScsiRequest& Req, TStatusRule Rule) {
  TDeviceHandle H = OpenDeviceRW(Path);
  if (!H.Valid()) return OpenFailedResult(Win().GetLastError());
  return RunScsi(H.Get(), Req, Rule);
}

TDeviceResult TAtaPassThroughEngine::RunScsi(HANDLE Device, const TScsiRequest& Req, TStatusRule Rule) {
  return JudgeScsiReply(ExecuteScsiPassThrough(Device, Req), Rule);
}

void TAtaPassThroughEngine::LogCall(const std::string& ApiName, const std::string& Params, bool Ok,
                                    uint32_t WinErr, uint64_t ElapsedMs, bool WarnOnFailure) const {
  if (FLogger) FLogger->LogApiCallEx(ApiName, Params, Ok, WinErr, ElapsedMs, WarnOnFailure);
}
