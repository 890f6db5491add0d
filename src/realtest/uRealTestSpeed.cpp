// Speed windows of about two seconds, the moving average and the speed-drop wait, the speed
// series, and the elapsed-time texts.
#include "core/uFormat.h"
#include "core/uLang.h"
#include "platform/Platform.h"
#include "realtest/uRealTrimTest.h"

using namespace plat;

namespace {

uint64_t Tick() { return Win().GetTickCount64(); }

std::string HoursMinutesSeconds(uint64_t S) { return Format("%d:%02d:%02d", S / 3600, (S % 3600) / 60, S % 60); }

}  // namespace

std::string TRealTrimTestThread::FormatSpeed(uint64_t Bytes, uint64_t Ms) {
  if (Bytes == 0 || Ms == 0) return "0 MB/s";
  return Format("%.1f MB/s", static_cast<double>(Bytes) / 1048576.0 / (static_cast<double>(Ms) / 1000.0));
}

void TRealTrimTestThread::AccountBytes(int32_t N) {
  if (N > 0) FSampleBytes += static_cast<uint64_t>(N);
  const uint64_t now = Tick();
  if (now < FSampleStartTick) {  // the clock went back
    FSampleStartTick = now;
    FSampleBytes = 0;
    return;
  }
  const uint64_t dt = now - FSampleStartTick;
  if (dt < kSpeedWindowMs) return;
  const double speed = static_cast<double>(FSampleBytes) / 1048576.0 / (static_cast<double>(dt) / 1000.0);
  AddSpeedPoint(speed);
  ++FStepSamples;
  FSpeedText = Format("%.1f MB/s", speed);
  SyncSpeed();
  PostElapsed();
  PostStepElapsed();
  FAvgSpeed = FAvgSpeed > 0 ? FAvgSpeed * 0.9 + speed * 0.1 : speed;
  const int32_t waitMin = FStepOptions.SpeedDropWaitMin;
  if (FSpeedDropCheck && waitMin > 0 && FAvgSpeed > 0 && speed > 0 && FAvgSpeed * 0.5 > speed) {
    PostLog(Format(GetLangText(TTextId::SpeedDropWaitFmt), speed, FAvgSpeed, waitMin));
    FSampleBytes = 0;
    FSampleStartTick = Tick();
    WaitAfterSpeedDrop(waitMin);
    FAvgSpeed = 0;
    // The next window measures transfers, not the wait.
    FSampleBytes = 0;
    FSampleStartTick = Tick();
  } else {
    FSampleBytes = 0;
    FSampleStartTick = now;
  }
}

void TRealTrimTestThread::AddSpeedPoint(double Speed) {
  // The milliseconds go through a 32-bit float, as the series has always stored them.
  const float ms = static_cast<float>(Tick() - FStartTick.load());
  TSpeedDataPoint p;
  p.ElapsedSec = static_cast<double>(ms / 1000.0f);
  p.SpeedMBps = Speed;
  p.StepLabel = FStepLabel;
  FSpeedData.Add(p);
}

void TRealTrimTestThread::EndStepSamples(uint64_t StepBytes, uint64_t StepMs) {
  if (FSampleBytes == 0) return;  // every byte of the step is in a sample already
  const uint64_t now = Tick();
  const uint64_t dt = now >= FSampleStartTick ? now - FSampleStartTick : 0;
  double speed = 0;
  if (FStepSamples == 0 && StepBytes > 0 && StepMs > 0)
    speed = static_cast<double>(StepBytes) / 1048576.0 / (static_cast<double>(StepMs) / 1000.0);
  else if (dt > 0 && (FStepSamples == 0 || dt >= kSpeedWindowMs / 2))
    speed = static_cast<double>(FSampleBytes) / 1048576.0 / (static_cast<double>(dt) / 1000.0);
  if (speed > 0) {
    AddSpeedPoint(speed);
    ++FStepSamples;
  }
  FSampleBytes = 0;
  FSampleStartTick = now;
}

void TRealTrimTestThread::WaitAfterSpeedDrop(int32_t Minutes) {
  if (Minutes <= 0) return;
  const uint64_t t0 = Tick();
  uint64_t remaining = static_cast<uint64_t>(Minutes) * 60000;
  uint32_t ticks = 0;
  while (remaining > 0) {
    if (StopRequested()) break;
    Win().Sleep(1000);
    remaining = remaining > 1000 ? remaining - 1000 : 0;
    ++ticks;
    if (ticks % 2 == 0) AddSpeedPoint(0.0);
    const uint64_t secs = remaining / 1000;
    FStatusText = Format(GetLangText(TTextId::WaitingFmt), secs / 60, secs % 60);
    Synchronize([this] {
      if (FForm) FForm->SetRealStatus(FStatusText);
    });
    PostElapsed();
    PostStepElapsed();
  }
  // Kept apart so that a step's speed counts the writing, not the wait.
  FDropWaitMs += Tick() - t0;
}

uint64_t TRealTrimTestThread::ElapsedSeconds() const { return (Tick() - FStartTick.load()) / 1000; }

std::string TRealTrimTestThread::TotalElapsedText() const { return HoursMinutesSeconds(ElapsedSeconds()); }

std::string TRealTrimTestThread::StepElapsedText() const {
  return HoursMinutesSeconds((Tick() - FStepStartTick.load()) / 1000);
}

std::string TRealTrimTestThread::GetElapsedText() const { return TotalElapsedText(); }

std::string TRealTrimTestThread::GetStepElapsedText() const { return StepElapsedText(); }
