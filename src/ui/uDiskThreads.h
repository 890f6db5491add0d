// The two background threads of the disk list: the scan of all disks, and the detail probe of
// the selected one. Both hand their result to the window by a synchronized call.
#pragma once

#include <cstdint>

#include "core/uThread.h"
#include "core/uTypes.h"

class TMainForm;

// Enumerates the disks; created suspended with a 4 MiB stack, not freeing itself until
// StartDiskRefresh switches self-release on.
class TDiskRefreshThread : public TThread {
 public:
  explicit TDiskRefreshThread(TMainForm* AForm);

 protected:
  void Execute() override;

 private:
  TMainForm* FForm;
  TDiskInfoArray FDisks;
};

// Reads model, serial and media kind of one disk and runs the ATA identity probe; created
// suspended with a 4 MiB stack; frees itself when it ends.
class TDiskDetailThread : public TThread {
 public:
  TDiskDetailThread(TMainForm* AForm, int32_t AIndex, int32_t ASeq, const TDiskInfo& ADisk);

 protected:
  void Execute() override;

 private:
  TMainForm* FForm;
  int32_t FIndex;
  int32_t FSeq;
  TDiskInfo FDisk;
};
