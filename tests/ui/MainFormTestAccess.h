// What window tests may reach of the main window's state.
#pragma once

#include <string>
#include <vector>

#include "core/uFormat.h"
#include "ui/uMainForm.h"

struct TMainFormTestAccess {
  // The disk list as a refresh leaves it, with item Selected chosen (by code: no handler runs).
  static void SetDisks(TMainForm& F, const TDiskInfoArray& Disks, int Selected) {
    F.FDisks = Disks;
    std::vector<std::string> Items;
    for (const TDiskInfo& D : Disks) Items.push_back(Format("PD%d", D.DiskNumber));
    F.CmbDisk->SetItems(Items);
    F.CmbDisk->SetItemIndex(Selected);
  }
  static std::string OutputDir(TMainForm& F) { return F.FOutputDir; }
};
