#include "ui/uDiskThreads.h"

#include "device/uAtaPassThrough.h"
#include "device/uDiskEnum.h"
#include "ui/uMainForm.h"

namespace {

constexpr size_t kDiskThreadStack = 4194304;
constexpr uint32_t kProbeTimeoutMs = 5000;

}  // namespace

TDiskRefreshThread::TDiskRefreshThread(TMainForm* AForm) : TThread(kDiskThreadStack), FForm(AForm) {}

void TDiskRefreshThread::Execute() {
  try {
    TDiskInfoArray Disks;
    try {
      if (FForm && FForm->FDiskEnum) FForm->FDiskEnum->Enumerate(Disks);
      FDisks = std::move(Disks);
    } catch (...) {
      FDisks.clear();
    }
    Synchronize([this] {
      if (!FForm) return;
      // The window forgets the scan also when applying the list raised: the next scan may start.
      struct TEnd {
        TMainForm* Form;
        ~TEnd() { Form->FRefreshThread = nullptr; }
      } End{FForm};
      FForm->ApplyDiskList(FDisks);
    });
  } catch (...) {
    // Nothing escapes a worker; the window is back in the ready state either way.
  }
}

TDiskDetailThread::TDiskDetailThread(TMainForm* AForm, int32_t AIndex, int32_t ASeq, const TDiskInfo& ADisk)
    : TThread(kDiskThreadStack), FForm(AForm), FIndex(AIndex), FSeq(ASeq), FDisk(ADisk) {
  SetFreeOnTerminate(true);
}

void TDiskDetailThread::Execute() {
  try {
    if (FForm && FForm->FDiskEnum) FForm->FDiskEnum->LoadDiskDetails(FDisk);
  } catch (...) {
    // The disk keeps what it had.
  }
  try {
    TAtaPassThroughEngine Engine(FForm ? FForm->FLogger : nullptr);
    TAtaProbeResult Probe;
    Engine.ProbeIdentify(FDisk.DevicePath, kProbeTimeoutMs, Probe);
    FDisk.Ata = Probe;  // whatever the probe answered
  } catch (...) {}
  try {
    Synchronize([this] {
      if (FForm) FForm->ApplyDiskDetail(FIndex, FSeq, FDisk);
    });
  } catch (...) {}
}
