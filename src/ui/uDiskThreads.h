// The two background threads of the disk list: the scan of all disks, and the detail probe of
// the selected one. Each is given the window's enumerator and log, and hands its result to the
// window by a synchronized call; it touches nothing else of the window.
#pragma once

#include <cstdint>

#include "core/uThread.h"
#include "core/uTypes.h"

class TDiskEnumerator;
class TLogger;

// What the disk threads need of the main window: each operation runs on the main thread, called
// by the thread's synchronized call while the thread waits.
class IDiskListWindow {
 public:
  virtual ~IDiskListWindow() = default;

  // The scan's list. The scan has ended: the window forgets its refresh thread, also when
  // applying the list fails.
  virtual void DiskRefreshDone(const TDiskInfoArray& Disks) = 0;
  // The details and the identity probe of the disk at Index, from the request of generation Seq.
  virtual void ApplyDiskDetail(int32_t Index, int32_t Seq, const TDiskInfo& Disk) = 0;
};

// Enumerates the disks; created suspended with a 4 MiB stack, not freeing itself until
// StartDiskRefresh switches self-release on.
class TDiskRefreshThread : public TThread {
 public:
  TDiskRefreshThread(IDiskListWindow* AForm, TDiskEnumerator* AEnum, TLogger* ALogger);

 protected:
  void Execute() override;

 private:
  IDiskListWindow* FForm;
  TDiskEnumerator* FDiskEnum;
  TLogger* FLogger;
  TDiskInfoArray FDisks;
};

// Reads model, serial and media kind of one disk and runs the ATA identity probe; created
// suspended with a 4 MiB stack; frees itself when it ends.
class TDiskDetailThread : public TThread {
 public:
  TDiskDetailThread(IDiskListWindow* AForm, TDiskEnumerator* AEnum, TLogger* ALogger, int32_t AIndex, int32_t ASeq,
                    const TDiskInfo& ADisk);

 protected:
  void Execute() override;

 private:
  IDiskListWindow* FForm;
  TDiskEnumerator* FDiskEnum;
  TLogger* FLogger;
  int32_t FIndex;
  int32_t FSeq;
  TDiskInfo FDisk;
};
