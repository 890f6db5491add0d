// The main window over described disks: enclosures as users meet them, the window opened and
// closed as the program does (MainFormFixture.h) and run until its scans and probes have ended,
// and what a test reads back (controls, boxes, the log files, the window log).
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/uLang.h"
#include "platform/sim/files/SimVolumeFormat.h"
#include "ui/MainFormFixture.h"
#include "ui/uMainForm.h"

inline constexpr uint64_t kGiB = 1073741824ull;
inline constexpr uint64_t kMiB = 1048576ull;
inline constexpr const char* kWorkDir = "C:\\Users\\user\\Desktop\\vrek\\";

class DiskWindowFixture : public MainFormFixture {
 protected:
  // English, as the window will find it: texts a test builds before the window opens match.
  DiskWindowFixture() {
    m->Desktop().SetUiLanguage(0x0409);
    SetCurrentLanguage(TUiLanguage::ulEnglish);
  }

  // ---- the machine ----
  std::shared_ptr<plat::sim::SimDisk> AddUas(int Number, uint64_t Bytes, const std::string& Serial = "UAS0001",
                                             const std::string& Product = "UAS SSD") {
    return m->Discovery().AddDisk(Number, Bytes, plat::sim::presets::UasEnclosure(Product, Serial));
  }
  std::shared_ptr<plat::sim::SimDisk> AddBot(int Number, uint64_t Bytes, const std::string& Serial = "BOT0001") {
    return m->Discovery().AddDisk(Number, Bytes, plat::sim::presets::BotEnclosure("Portable SSD", Serial));
  }
  // A lettered volume with a real file system on the disk's sectors.
  void AddFormatted(char Letter, int Disk, uint64_t Offset, uint64_t Length,
                    plat::sim::SimFsKind Kind = plat::sim::SimFsKind::kNtfs) {
    const char* Name = Kind == plat::sim::SimFsKind::kNtfs    ? "NTFS"
                       : Kind == plat::sim::SimFsKind::kExFat ? "exFAT"
                                                              : "FAT32";
    m->Discovery().AddVolume(Letter, Disk, Offset, Length, Name, 4096);
    ASSERT_TRUE(plat::sim::FormatVolume(m->Storage(), Letter, Kind, 512, 4096));
  }

  // ---- the window ----
  void Open() {
    Start();
    Settle();
  }
  // Scans and probes end in virtual time; this runs the loop until they have.
  void Settle(unsigned Ms = 10000) { ui.RunFor(Ms); }
  void CloseIfOpen() {
    if (form) Close();
  }
  bool Ready() { return form->LblStatus->Caption() == GetLangText(TTextId::StatusReady); }

  tk::TComboBox* Combo(const std::string& Name) { return ui.FindAs<tk::TComboBox>(Name); }
  std::vector<std::string> DiskItems() { return form->CmbDisk->Items(); }
  const std::vector<std::string>& Details() { return form->MemoDiskInfo->Lines(); }
  bool DetailsHave(const std::string& Piece) {
    const auto& L = Details();
    return std::any_of(L.begin(), L.end(),
                       [&](const std::string& S) { return S.find(Piece) != std::string::npos; });
  }

  // ---- what was shown ----
  std::vector<tk::headless::TModal> Boxes() { return script.Log(tk::headless::TModalKind::Box); }
  // (caption, text) of every box, in order.
  std::vector<std::pair<std::string, std::string>> BoxTexts() {
    std::vector<std::pair<std::string, std::string>> R;
    for (const auto& B : Boxes()) R.push_back({B.Caption, B.Text});
    return R;
  }

  // ---- the log file ----
  // The log files' lines from the level on ("[INFO] ..."), of every file the window has written.
  std::vector<std::string> FileLog() {
    std::vector<std::string> R;
    const std::string Logs = std::string(kWorkDir) + "logs\\";
    plat::FIND_DATA F;
    plat::HANDLE H = plat::Win().FindFirstFileW(Logs + "run_*.log", &F);
    if (!plat::IsValidHandle(H)) return R;
    std::vector<std::string> Names;
    do Names.push_back(F.cFileName);
    while (plat::Win().FindNextFileW(H, &F));
    plat::Win().FindClose(H);
    std::sort(Names.begin(), Names.end());
    for (const std::string& Name : Names) {
      const std::string Bytes = m->Files().ReadAll(Logs + Name);
      size_t At = 0;
      while (At < Bytes.size()) {
        size_t E = Bytes.find("\r\n", At);
        if (E == std::string::npos) E = Bytes.size();
        const std::string Line = Bytes.substr(At, E - At);
        const size_t Tag = Line.find(" [");
        R.push_back(Tag == std::string::npos ? Line : Line.substr(Tag + 1));
        At = E + 2;
      }
    }
    return R;
  }
  bool Logged(const std::string& Piece) { return LoggedSince(0, Piece); }
  // Logged after the first Mark lines (FileLog().size() taken earlier): windows opened one after
  // another in a test share the log file.
  bool LoggedSince(size_t Mark, const std::string& Piece) {
    const auto L = FileLog();
    return std::any_of(L.begin() + static_cast<long>(std::min(Mark, L.size())), L.end(),
                       [&](const std::string& S) { return S.find(Piece) != std::string::npos; });
  }
  size_t CountLogged(const std::string& Piece) {
    const auto L = FileLog();
    return std::count_if(L.begin(), L.end(),
                         [&](const std::string& S) { return S.find(Piece) != std::string::npos; });
  }
  bool WindowLogHas(const std::string& Line) {
    const auto& L = form->MemoLog->Lines();
    return std::find(L.begin(), L.end(), Line) != L.end();
  }
};
