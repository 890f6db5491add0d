#include "device/uAtaPassThrough.h"

#include "core/uLogger.h"

using namespace plat;

uint8_t TAtaPassThroughEngine::SetBitValue(uint8_t Value, uint8_t Bit, bool State) {
  if (Bit > 7) return Value;
  const uint8_t Mask = static_cast<uint8_t>(1u << Bit);
  return State ? static_cast<uint8_t>(Value | Mask) : static_cast<uint8_t>(Value & ~Mask);
}

bool TAtaPassThroughEngine::TestBitValue(uint8_t Value, uint8_t Bit) {
  return Bit <= 7 && ((Value >> Bit) & 1u) != 0;
}

TDeviceResult TAtaPassThroughEngine::OnPath(const std::string& Path,
                                            const std::function<TDeviceResult(const TDeviceRef&)>& Send) {
  TDeviceHandle H = OpenDeviceReadWrite(Path);
  if (!H.Valid()) return OpenFailedResult(Win().GetLastError());
  return Send(TDeviceRef{H.Get(), Path});
}

TDeviceResult TAtaPassThroughEngine::RunScsi(HANDLE Device, const TScsiRequest& Req, TStatusRule Rule) {
  return JudgeScsiReply(ExecuteScsiPassThrough(Device, Req), Rule);
}

void TAtaPassThroughEngine::LogCall(const std::string& ApiName, const std::string& Params, bool Ok,
                                    uint32_t WinErr, uint64_t ElapsedMs, bool WarnOnFailure) const {
  if (FLogger) FLogger->LogApiCallEx(ApiName, Params, Ok, WinErr, ElapsedMs, WarnOnFailure);
}
