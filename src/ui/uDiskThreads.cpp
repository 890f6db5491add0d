#include "ui/uDiskThreads.h"

#include <exception>
#include <string>

#include "core/uFormat.h"
#include "core/uLogger.h"
#include "device/uAtaPassThrough.h"
#include "device/uDiskEnum.h"
#include "ui/toolkit/uTkApplication.h"

namespace {

constexpr size_t kDiskThreadStack = 4194304;
constexpr uint32_t kProbeTimeoutMs = 5000;

// Nothing escapes a disk thread, but nothing caught goes unsaid either. Called inside a catch.
void LogCaught(TLogger* Logger, const std::string& What) {
  if (Logger) Logger->Error(What + ": " + tk::TApplication::ExceptionMessage(std::current_exception()));
}

}  // namespace

TDiskRefreshThread::TDiskRefreshThread(IDiskListWindow* AForm, TDiskEnumerator* AEnum, TLogger* ALogger)
    : TThread(kDiskThreadStack), FForm(AForm), FDiskEnum(AEnum), FLogger(ALogger) {}

void TDiskRefreshThread::Execute() {
  try {
    TDiskInfoArray Disks;
    if (FDiskEnum) FDiskEnum->Enumerate(Disks);
    FDisks = std::move(Disks);
  } catch (...) {
    FDisks.clear();
    LogCaught(FLogger, "Disk enumeration failed");
  }
  try {
    Synchronize([this] {
      if (FForm) FForm->DiskRefreshDone(FDisks);
    });
  } catch (...) {
    LogCaught(FLogger, "Disk list could not be shown");
  }
}

TDiskDetailThread::TDiskDetailThread(IDiskListWindow* AForm, TDiskEnumerator* AEnum, TLogger* ALogger,
                                     int32_t AIndex, int32_t ASeq, const TDiskInfo& ADisk)
    : TThread(kDiskThreadStack),
      FForm(AForm),
      FDiskEnum(AEnum),
      FLogger(ALogger),
      FIndex(AIndex),
      FSeq(ASeq),
      FDisk(ADisk) {
  SetFreeOnTerminate(true);
}

void TDiskDetailThread::Execute() {
  try {
    if (FDiskEnum) FDiskEnum->LoadDiskDetails(FDisk);
  } catch (...) {
    // The disk keeps what it had.
    LogCaught(FLogger, Format("Disk details of PD%d could not be read", FDisk.DiskNumber));
  }
  try {
    TAtaPassThroughEngine Engine(FLogger);
    TAtaProbeResult Probe;
    Engine.ProbeIdentify(FDisk.DevicePath, kProbeTimeoutMs, Probe);
    FDisk.Ata = Probe;  // whatever the probe answered
  } catch (...) {
    LogCaught(FLogger, Format("ATA identity probe of PD%d failed", FDisk.DiskNumber));
  }
  try {
    Synchronize([this] {
      if (FForm) FForm->ApplyDiskDetail(FIndex, FSeq, FDisk);
    });
  } catch (...) {
    LogCaught(FLogger, Format("Disk details of PD%d could not be shown", FDisk.DiskNumber));
  }
}
