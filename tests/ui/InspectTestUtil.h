// The main window over the simulated machine, for the inspection view and the free-range
// export: USB disks with real partition tables and formatted volumes, the window's disk list,
// its log file and the files it writes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/uDiskEnum.h"
#include "platform/sim/files/SimVolumeFormat.h"
#include "ui/MainFormFixture.h"

class InspectFixture : public MainFormFixture {
 protected:
  static constexpr uint64_t kMiB = 1048576;
  // The window's output folder in the working folder.
  static constexpr const char* kOutput = "C:\\Users\\user\\Desktop\\vrek\\output\\";

  void Open() { Start(); }

  // A USB disk with an MBR or a GPT on its sectors (the list holds disks above 1 GiB).
  void AddDisk(int Number, uint64_t Bytes, bool Mbr = false, const std::string& Product = "Portable SSD") {
    auto D = plat::sim::presets::BotEnclosure(Product, "SER" + std::to_string(Number));
    D.mbrPartitionTable = Mbr;
    m->Discovery().AddDisk(Number, Bytes, D);
  }
  // A partition with a freshly made file system on it.
  void AddFormatted(char Letter, int Disk, uint64_t OffsetMiB, uint64_t LengthMiB, plat::sim::SimFsKind Kind,
                    uint32_t Bps = 512, uint32_t ClusterBytes = 4096) {
    m->Discovery().AddVolume(Letter, Disk, OffsetMiB * kMiB, LengthMiB * kMiB, "NTFS", ClusterBytes);
    ASSERT_TRUE(plat::sim::FormatVolume(m->Storage(), Letter, Kind, Bps, ClusterBytes));
  }

  // The disks as the window's disk list reads them.
  TDiskInfoArray Disks() {
    TDiskEnumerator En(nullptr);
    TDiskInfoArray All;
    En.Enumerate(All);
    return All;
  }
  TDiskInfo DiskNumbered(int Number) {
    for (const TDiskInfo& D : Disks())
      if (D.DiskNumber == Number) return D;
    ADD_FAILURE() << "no disk " << Number;
    return {};
  }
  // The disk of that number in the window's own list (filled by its first refresh), chosen as
  // the user chooses it; the detail probe of the selection has run.
  void SelectDisk(int Number) {
    ASSERT_TRUE(ui.RunUntil([&] { return form->CmbDisk->ItemCount() > 0; }, 10000)) << "no disk listed";
    const std::string Item = "PD" + std::to_string(Number) + " |";
    for (int i = 0; i < form->CmbDisk->ItemCount(); ++i) {
      if (form->CmbDisk->Items()[i].rfind(Item, 0) != 0) continue;
      if (form->CmbDisk->ItemIndex() != i) {
        ASSERT_TRUE(ui.Select("CmbDisk", i));
      }
      ui.RunFor(1000);
      TDiskInfo D;
      ASSERT_TRUE(form->GetSelectedDisk(D));
      ASSERT_EQ(D.DiskNumber, Number);
      return;
    }
    FAIL() << "PD" << Number << " is not listed";
  }

  // The log file of this start, whole.
  std::string LogFile() { return m->Files().ReadAll(LogFilePath()); }
  bool LogHas(const std::string& Piece) { return LogFile().find(Piece) != std::string::npos; }
  std::vector<std::string> WindowLog() { return form->MemoLog->Lines(); }
  std::string LastWindowLine() { return WindowLog().empty() ? "" : WindowLog().back(); }
  bool WindowLogHas(const std::string& Line) {
    for (const std::string& L : WindowLog())
      if (L.find(Line) != std::string::npos) return true;
    return false;
  }
};
