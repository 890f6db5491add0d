// Starting a run from the window: each refusal of Start with its boxes and log lines, the two-step
// confirmation, the dry run, the options record, the mode handling with its preselection, the
// volume flush, the unchanged-disk and file-system checks, Cancel, and a run that cannot start.
#include <gtest/gtest.h>

#include <array>
#include <optional>

#include "DiskWindowFixture.h"
#include "core/uFormat.h"
#include "core/uLogger.h"
#include "platform/WinDisk.h"
#include "platform/WinFsControl.h"
#include "platform/sim/files/SimFsControl.h"

using namespace plat;
using namespace plat::sim;
using tk::headless::TModalScript;

namespace {

using TBoxes = std::vector<std::pair<std::string, std::string>>;

std::string T(TTextId Id) { return GetLangText(Id); }
std::pair<std::string, std::string> B(TTextId Caption, TTextId Text) { return {T(Caption), T(Text)}; }

// A box as a case names it, read in the window's language once the window is open: a caption,
// and a text id, an English text, or both (the id's text first).
struct TBoxWanted {
  TTextId Caption;
  std::optional<TTextId> Text;
  std::string Literal;
  TBoxWanted(TTextId C, TTextId X) : Caption(C), Text(X) {}
  TBoxWanted(TTextId C, std::string L) : Caption(C), Literal(std::move(L)) {}
  TBoxWanted(TTextId C, TTextId X, std::string L) : Caption(C), Text(X), Literal(std::move(L)) {}
  std::pair<std::string, std::string> Resolve() const { return {T(Caption), (Text ? T(*Text) : "") + Literal}; }
};

struct StartTest : DiskWindowFixture {
  SimMachine& M() { return *m; }
  TModalScript& Script() { return script; }
  TMainForm& Form() { return *form; }

  // PD2: a UAS enclosure with one formatted volume E: (none when Fs is empty).
  void AddDisk2(const SimDiskDescription& Desc, const char* Fs = "NTFS") {
    m->Discovery().AddDisk(2, 8 * kGiB, Desc);
    if (std::string(Fs) == "NTFS") AddFormatted('E', 2, kMiB, 1 * kGiB);
    if (std::string(Fs) == "exFAT") AddFormatted('E', 2, kMiB, 1 * kGiB, SimFsKind::kExFat);
  }
  bool Started() { return Logged("[INFO] Execution start:"); }
};

struct StartCase {
  const char* Name;
  const char* Fs = "NTFS";
  SimDiskDescription Disk = presets::UasEnclosure("UAS SSD", "UAS0002");
  std::function<void(StartTest&)> Before = nullptr;  // the machine, before the window opens
  std::function<void(StartTest&)> After = nullptr;   // once it is open, right before Start
  std::function<void(TModalScript&)> Answers = nullptr;
  std::vector<TBoxWanted> Boxes = {};
  std::vector<std::string> Logged = {};
  std::vector<std::string> NotLogged = {};
};
std::ostream& operator<<(std::ostream& O, const StartCase& C) { return O << C.Name; }

struct StartRefusalTest : StartTest, ::testing::WithParamInterface<StartCase> {};

void NoTrimProperty(StartTest& F, bool AtaTrim) {
  F.M().FsControl().Checks(2)->trimEnabled = false;
  SimIdentity Id;
  Id.trimSupported = AtaTrim;
  F.M().Bridge().SetIdentity(2, Id);
}

TEST_P(StartRefusalTest, RefusesWithItsBoxesAndLines) {
  const StartCase& C = GetParam();
  AddDisk2(C.Disk, C.Fs);
  if (C.Before) C.Before(*this);
  Open();
  if (C.After) C.After(*this);
  if (C.Answers) C.Answers(script);
  ASSERT_TRUE(ui.Click("BtnStart"));
  Settle();
  TBoxes Want;
  for (const TBoxWanted& S : C.Boxes) Want.push_back(S.Resolve());
  EXPECT_EQ(BoxTexts(), Want);
  for (const std::string& L : C.Logged) EXPECT_TRUE(Logged(L)) << L;
  for (const std::string& L : C.NotLogged) EXPECT_FALSE(Logged(L)) << L;
  EXPECT_FALSE(Started());
  EXPECT_TRUE(form->BtnStart->Enabled());
  EXPECT_FALSE(form->BtnCancel->Enabled());
  EXPECT_TRUE(m->Storage().Disk(2) == nullptr || m->Storage().Disk(2)->drive.Ledger().empty());
}

const auto Notice = [](TModalScript& S) { S.Box(IDOK); };
const auto NoticeThenNo = [](TModalScript& S) { S.Box(IDOK).Box(IDNO); };

INSTANTIATE_TEST_SUITE_P(
    Window, StartRefusalTest,
    ::testing::Values(
        StartCase{.Name = "NoDiskSelected",
                  .Before = [](StartTest& F) { F.M().Storage().DetachDisk(2); },
                  .Answers = Notice,
                  .Boxes = {TBoxWanted(TTextId::ErrorCaption, TTextId::SelectDisk)}},
        StartCase{.Name = "NotElevated",
                  .Before = [](StartTest& F) { F.M().Security().SetElevated(false); },
                  .Answers = Notice,
                  .Boxes = {TBoxWanted(TTextId::AdminRequiredCaption, TTextId::AdminPrivilegesRequired)}},
        StartCase{.Name = "DiskGoneSinceTheRefresh",
                  .After = [](StartTest& F) { F.M().Storage().DetachDisk(2); },
                  .Answers = Notice,
                  .Boxes = {TBoxWanted(TTextId::WarningCaption, TTextId::DiskConfigChanged)},
                  .Logged = {"[WARN] Disk state changed since last refresh: disk not accessible (removed or "
                             "renumbered)"}},
        StartCase{.Name = "FullDeviceWithVolumes",
                  .After = [](StartTest& F) { F.Form().RgMode->SetItemIndex(0); },
                  .Answers = Notice,
                  .Boxes = {TBoxWanted(TTextId::RestrictionCaption, TTextId::FullTrimNeedsNoVolumes)},
                  .NotLogged = {"Flush option enabled"}},
        // ReTrim retrims NTFS volumes only: on a disk without one it is refused before any check.
        StartCase{.Name = "ReTrimOnlyWithoutAnNtfsVolume",
                  .Fs = "exFAT",
                  .After = [](StartTest& F) { F.Form().CbWinRetrimOnly->SetChecked(true); },
                  .Answers = Notice,
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::ReTrimNeedsNtfs)},
                  .Logged = {"[WARN] Windows ReTrim only refused: PD2 has no NTFS volume"},
                  .NotLogged = {"Flush option enabled", "System disk policy"}},
        StartCase{.Name = "ReTrimOnlyOnTheWholeDevice",
                  .Fs = "",
                  .After = [](StartTest& F) { F.Form().CbWinRetrimOnly->SetChecked(true); },
                  .Answers = Notice,
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::ReTrimNeedsNtfs)},
                  .Logged = {"[WARN] Windows ReTrim only refused: PD2 has no NTFS volume"},
                  .NotLogged = {"Flush option enabled", "System disk policy"}},
        // The command-path selector outranks the check box: not a ReTrim run.
        StartCase{.Name = "ReTrimOnlyOutrankedByTheSelector",
                  .Fs = "exFAT",
                  .After =
                      [](StartTest& F) {
                        F.Form().CbWinRetrimOnly->SetChecked(true);
                        F.Form().CmbUaspMethod->SetItemIndex(1);
                      },
                  .Answers = NoticeThenNo,
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::TrimWarningCaption, TTextId::TrimRiskQuestion)},
                  .NotLogged = {"Windows ReTrim only refused"}},
        StartCase{.Name = "ReTrimOnlyWithAnNtfsVolume",
                  .After = [](StartTest& F) { F.Form().CbWinRetrimOnly->SetChecked(true); },
                  .Answers = NoticeThenNo,
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::TrimWarningCaption, TTextId::TrimRiskQuestion)},
                  .NotLogged = {"Windows ReTrim only refused"}},
        StartCase{.Name = "FreeSpaceWithARawVolume",
                  .Before = [](StartTest& F) { F.M().Discovery().AddVolume('F', 2, 2 * kGiB, kGiB, ""); },
                  .Answers = [](TModalScript& S) { S.Box(IDOK).Box(IDOK); },
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::ModeRestrictionCaption, TTextId::FreeSpaceUnavailablePrefix,
                                       "RAW/Unknown volume exists on this disk")},
                  .Logged = {"[INFO] Flush option enabled: will flush mounted volumes before TRIM."}},
        StartCase{.Name = "SystemDisk",
                  .Before = [](StartTest& F) { F.M().Discovery().SetWindowsDirectory("E:\\Windows"); },
                  .Answers = [](TModalScript& S) { S.Box(IDOK).Box(IDOK); },
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::PolicyBlockedCaption,
                                       "Blocked: selected disk is system-critical (boot/pagefile risk)")},
                  .Logged = {"[INFO] Blocked: selected disk is system-critical (boot/pagefile risk)"}},
        StartCase{
            .Name = "UnknownTransport",
            .Disk = presets::UnidentifiedUsbBridge("USB Disk", "UNK0002"),
            .Answers = [](TModalScript& S) { S.Box(IDOK).Box(IDOK); },
            .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                      TBoxWanted(TTextId::PolicyBlockedCaption,
                                 "USB transport not detected (BOT/UASP required). Reconnect device and retry.")},
            .Logged = {"[INFO] System disk policy check passed",
                       "[INFO] Current transport: Unknown (transport not identified)"}},
        StartCase{.Name = "NotWritable",
                  .Before = [](StartTest& F) { F.M().FsControl().Checks(2)->writableError = ERROR_WRITE_PROTECT; },
                  .Answers = [](TModalScript& S) { S.Box(IDOK).Box(IDOK); },
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::PreVerificationFailedCaption,
                                       "Disk writable check failed: " + WinErrorText(ERROR_WRITE_PROTECT))}},
        StartCase{
            .Name = "TrimQueryFails",
            .Before = [](StartTest& F) { F.M().FsControl().Checks(2)->trimQueryError = ERROR_GEN_FAILURE; },
            .Answers = [](TModalScript& S) { S.Box(IDOK).Box(IDOK); },
            .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                      TBoxWanted(TTextId::PreVerificationFailedCaption,
                                 "TRIM support query failed (winerr=31): " + WinErrorText(ERROR_GEN_FAILURE))}},
        StartCase{.Name = "TrimWarningDeclined",
                  .Fs = "exFAT",
                  .Before = [](StartTest& F) { NoTrimProperty(F, false); },
                  .Answers = [](TModalScript& S) { S.Box(IDOK).Box(IDNO).Box(IDOK); },
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::CompatibilityWarningCaption, TTextId::TrimUnsupportedQuestion),
                            TBoxWanted(TTextId::InfoCaption, TTextId::ReTrimNeedsNtfs)},
                  .Logged = {"[WARN] Bridge reports TRIM unsupported; asking user to confirm before running",
                             "[INFO] User declined hardware TRIM after TRIM-compatibility warning",
                             "[INFO] No NTFS volume: exiting after hardware TRIM declined"},
                  .NotLogged = {"Bridge probe"}},
        StartCase{.Name = "TrimWarningAcceptedThenConfirmationDeclined",
                  .Fs = "exFAT",
                  .Before = [](StartTest& F) { NoTrimProperty(F, false); },
                  .Answers = [](TModalScript& S) { S.Box(IDOK).Box(IDYES).Box(IDNO); },
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::CompatibilityWarningCaption, TTextId::TrimUnsupportedQuestion),
                            TBoxWanted(TTextId::TrimWarningCaption, TTextId::TrimRiskQuestion)},
                  .Logged = {"[INFO] User confirmed running on TRIM-unsupported bridge",
                             "[INFO] Bridge probe passed; SAT IDENTIFY ok, drive reports TRIM NOT supported"}},
        StartCase{
            .Name = "TrimWarningNotAskedWhenTheProbeReportsTrim",
            .Fs = "exFAT",
            .Before = [](StartTest& F) { NoTrimProperty(F, true); },
            .Answers = NoticeThenNo,
            .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                      TBoxWanted(TTextId::TrimWarningCaption, TTextId::TrimRiskQuestion)},
            .Logged = {"[INFO] TRIM support reported disabled by bridge; hardware TRIM paths likely to fail",
                       "[INFO] Skipping TRIM preflight popup: ATA IDENTIFY reports DSM/TRIM capable (word 169) "
                       "despite StorageDeviceTrimProperty mismatch"}},
        StartCase{.Name = "TrimWarningNotAskedWithAnNtfsVolume",
                  .Before = [](StartTest& F) { NoTrimProperty(F, false); },
                  .Answers = NoticeThenNo,
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::TrimWarningCaption, TTextId::TrimRiskQuestion)},
                  .Logged = {"[INFO] Skipping TRIM preflight popup: NTFS volume present (Windows ReTrim fallback "
                             "available if hardware paths fail)"}},
        StartCase{.Name = "ConfirmationDeclined",
                  .Answers = NoticeThenNo,
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::TrimWarningCaption, TTextId::TrimRiskQuestion)},
                  .Logged = {"[INFO] Disk writable check: writable", "[INFO] TRIM support check passed",
                             "[INFO] Bridge probe passed; SAT IDENTIFY ok, drive reports TRIM supported"},
                  .NotLogged = {"FlushFileBuffers", "Plan generated"}},
        StartCase{.Name = "NumberDialogCancelled",
                  .Answers = [](TModalScript& S) { S.Box(IDOK).Box(IDYES).InputCancel(); },
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::TrimWarningCaption, TTextId::TrimRiskQuestion)}},
        StartCase{.Name = "NumberWithALeadingZero",
                  .Answers = [](TModalScript& S) { S.Box(IDOK).Box(IDYES).Input("02").Box(IDOK); },
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::TrimWarningCaption, TTextId::TrimRiskQuestion),
                            TBoxWanted(TTextId::MismatchCaption, TTextId::DiskNumberMismatch)}},
        StartCase{.Name = "NumberAsPdText",
                  .Answers = [](TModalScript& S) { S.Box(IDOK).Box(IDYES).Input("PD2").Box(IDOK); },
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::TrimWarningCaption, TTextId::TrimRiskQuestion),
                            TBoxWanted(TTextId::MismatchCaption, TTextId::DiskNumberMismatch)}},
        StartCase{.Name = "PlanFails",
                  .After =
                      [](StartTest& F) {
                        F.M().Storage().AddVolumeFault('E', fsc::FSCTL_GET_VOLUME_BITMAP,
                                                       SimOutcome::Error(ERROR_ACCESS_DENIED));
                      },
                  .Answers = [](TModalScript& S) { S.Box(IDOK).Box(IDYES).Input("2").Box(IDOK); },
                  .Boxes = {TBoxWanted(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                            TBoxWanted(TTextId::TrimWarningCaption, TTextId::TrimRiskQuestion),
                            TBoxWanted(TTextId::PlanGenerationFailedCaption,
                                       "Free-space bitmap could not be read on any mapped volume")},
                  .Logged = {"[INFO] FlushFileBuffers succeeded: \\\\.\\E:"}}),
    [](const ::testing::TestParamInfo<StartCase>& I) { return std::string(I.param.Name); });

TEST_F(StartTest, BlanksAroundTheDiskNumberAreAccepted) {
  AddDisk2(presets::UasEnclosure("UAS SSD", "UAS0002"));
  Open();
  script.Box(IDOK).Box(IDYES).Input("  2 ").Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnStart"));
  Settle();
  EXPECT_TRUE(Started());
  EXPECT_EQ(BoxTexts().back(), B(TTextId::InfoCaption, TTextId::TrimCompleted));
  const auto Inputs = script.Log(tk::headless::TModalKind::Input);
  ASSERT_EQ(Inputs.size(), 1u);
  EXPECT_EQ(Inputs[0].Caption, T(TTextId::ConfirmCaption));
  EXPECT_EQ(Inputs[0].Value, "");
  EXPECT_FALSE(m->Storage().Disk(2)->drive.Ledger().empty());
}

// A dry run passes an unknown transport, skips the device checks and both confirmations, still
// flushes, and starts the run in dry-run mode; nothing reaches the disk.
TEST_F(StartTest, ADryRunOfAnUnknownTransport) {
  AddDisk2(presets::UnidentifiedUsbBridge("USB Disk", "UNK0002"));
  Open();
  ASSERT_TRUE(ui.Check("CbDryRun", true));
  script.Box(IDOK).Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnStart"));
  Settle();
  EXPECT_EQ(BoxTexts(), (TBoxes{B(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                                B(TTextId::InfoCaption, TTextId::TrimCompleted)}));
  EXPECT_TRUE(Logged("[INFO] Unknown USB transport. Dry-run allowed only."));
  EXPECT_TRUE(Logged("[INFO] FlushFileBuffers succeeded: \\\\.\\E:"));
  EXPECT_TRUE(Logged("mode=Dry-run"));
  for (const char* Skipped : {"Disk writable check", "TRIM support", "Bridge probe"})
    EXPECT_FALSE(Logged(Skipped));
  EXPECT_TRUE(m->Storage().Disk(2)->drive.Ledger().empty());
  EXPECT_TRUE(form->BtnStart->Enabled());
}

// A dry run goes on where Start refuses an execution of the same choices, and says so in a WARN
// line: Windows ReTrim only without an NTFS volume, MBR on a disk larger than an MBR addresses.
TEST_F(StartTest, ADryRunLogsTheRefusalsAnExecutionWouldMeet) {
  constexpr uint64_t kTiB = 1024 * kGiB;
  const struct {
    const char* Name;
    int Disk;
    std::function<void()> Arrange;  // the machine
    std::function<void()> Choose;   // the choices, once the window is open
    std::string Line;
  } Cases[] = {
      {"ReTrim only on exFAT", 2, [this] { AddDisk2(presets::UasEnclosure("UAS SSD", "UAS0002"), "exFAT"); },
       [this] { ASSERT_TRUE(ui.Check("CbWinRetrimOnly", true)); },
       "[WARN] Dry run: an execution would be refused (Windows ReTrim only): PD2 has no NTFS volume"},
      {"MBR on 3 TiB", 3, [this] { AddUas(3, 3 * kTiB, "BIG0003"); },
       [this] { ASSERT_TRUE(ui.Select("CbInitStyle", 1)); },
       "[WARN] Dry run: an execution would be refused (MBR initialization): PD3 has 6442450944 logical blocks of "
       "512 bytes; an MBR addresses at most 4294967296 (2 TiB)"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const size_t Mark = FileLog().size();
    C.Arrange();
    Open();
    C.Choose();
    ASSERT_TRUE(ui.Check("CbDryRun", true));
    ASSERT_TRUE(ui.Check("CbAdvanced", true));
    ASSERT_TRUE(ui.Select("CmbBatchLimit", 0));  // one batch is enough to see it run
    const size_t Shown = BoxTexts().size();
    script.Box(IDOK).Box(IDOK);
    ASSERT_TRUE(ui.Click("BtnStart"));
    Settle();
    const TBoxes All = BoxTexts();
    EXPECT_EQ(TBoxes(All.begin() + static_cast<long>(Shown), All.end()),
              (TBoxes{B(TTextId::InfoCaption, TTextId::StopWritesDuringTrim),
                      B(TTextId::InfoCaption, TTextId::TrimCompleted)}));
    EXPECT_TRUE(LoggedSince(Mark, C.Line));
    EXPECT_FALSE(LoggedSince(Mark, " refused: PD"));  // no execution's refusal line
    EXPECT_TRUE(LoggedSince(Mark, "[INFO] Total planned (dry-run)"));
    EXPECT_TRUE(m->Storage().Disk(C.Disk)->drive.Ledger().empty());
    Close();
    m->Storage().DetachDisk(C.Disk);
  }
}

// Decided: a full-device dry run with an initialisation style chosen announces nothing and
// initialises nothing.
TEST_F(StartTest, AFullDeviceDryRunNeitherAnnouncesNorInitialises) {
  AddDisk2(presets::UasEnclosure("UAS SSD", "UAS0002"), "");
  Open();
  ASSERT_EQ(form->RgMode->ItemIndex(), 0);
  ASSERT_EQ(form->CbInitStyle->ItemIndex(), 0);
  ASSERT_TRUE(ui.Check("CbDryRun", true));
  script.Box(IDOK).Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnStart"));
  Settle();
  EXPECT_EQ(BoxTexts().size(), 2u);
  EXPECT_FALSE(WindowLogHas(T(TTextId::WillInitGpt)));
  EXPECT_FALSE(WindowLogHas(T(TTextId::InitSkipped)));
  EXPECT_FALSE(Logged(T(TTextId::InitSucceededPrefix)));
  EXPECT_EQ(m->Partitions().Layout(2).style, SimPartitionStyle::kRaw);
}

TEST_F(StartTest, TheOptionsRecordFromTheControls) {
  Open();
  ASSERT_TRUE(ui.Check("CbAdvanced", true));
  TTrimExecOptions O = form->ReadExecOptions();
  EXPECT_EQ(O.TimeoutMs, 5000);
  EXPECT_EQ(O.AtaRetries, 3);
  EXPECT_EQ(O.BatchEntries, 32);
  EXPECT_EQ(O.BatchLimit, 0);  // "All"
  EXPECT_EQ(O.ForcedPath, TForcedTrimPath::ftpAuto);
  EXPECT_TRUE(O.ExpertAtaRetry);
  EXPECT_FALSE(O.QuietIterations);

  ASSERT_TRUE(ui.SetValue("SpTimeout", 12000));
  ASSERT_TRUE(ui.SetValue("SpRetry", 0));
  ASSERT_TRUE(ui.SetValue("SpBatch", 7));
  ASSERT_TRUE(ui.Check("CbQuietIteration", true));
  O = form->ReadExecOptions();
  EXPECT_EQ(O.TimeoutMs, 12000);
  EXPECT_EQ(O.AtaRetries, 0);
  EXPECT_EQ(O.BatchEntries, 7);
  EXPECT_TRUE(O.QuietIterations);

  for (auto [Index, Limit] : std::vector<std::pair<int, int>>{{0, 1}, {1, 10}, {2, 100}, {3, 0}}) {
    ASSERT_TRUE(ui.Select("CmbBatchLimit", Index));
    EXPECT_EQ(form->ReadExecOptions().BatchLimit, Limit) << Index;
  }
  form->CmbBatchLimit->SetItemIndex(-1);
  EXPECT_EQ(form->ReadExecOptions().BatchLimit, 0);

  struct Path {
    bool ReTrimOnly;
    int Method;
    TForcedTrimPath Want;
  };
  for (const Path& P : std::vector<Path>{{false, 0, TForcedTrimPath::ftpAuto},
                                         {true, 0, TForcedTrimPath::ftpWindowsReTrim},
                                         {true, 1, TForcedTrimPath::ftpScsiUnmap},
                                         {false, 1, TForcedTrimPath::ftpScsiUnmap},
                                         {true, 2, TForcedTrimPath::ftpAtaPassThrough}}) {
    ASSERT_TRUE(ui.Check("CbWinRetrimOnly", P.ReTrimOnly));
    form->CmbUaspMethod->SetItemIndex(P.Method);
    EXPECT_EQ(form->ReadExecOptions().ForcedPath, P.Want) << P.ReTrimOnly << " " << P.Method;
  }
}

TEST_F(StartTest, TheModeFollowsTheDiskAndPreselectsItsPartitionStyle) {
  // PD2 with a volume, PD3 RAW, PD4 an empty MBR, PD5 an empty GPT.
  AddDisk2(presets::UasEnclosure("UAS SSD", "UAS0002"));
  for (int D : {3, 4, 5}) AddUas(D, 8 * kGiB, "UAS000" + std::to_string(D));
  auto Create = [&](int D, uint32_t Style) {
    std::array<uint8_t, 24> In{};
    In[0] = static_cast<uint8_t>(Style);
    In[4] = 0x11;
    if (Style == 1) In[20] = 128;
    HANDLE H = Win().CreateFileW("\\\\.\\PhysicalDrive" + std::to_string(D), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    DWORD N = 0;
    ASSERT_TRUE(Win().DeviceIoControl(H, IOCTL_DISK_CREATE_DISK, In.data(), 24, nullptr, 0, &N));
    Win().CloseHandle(H);
  };
  Create(4, 0);
  Create(5, 1);
  Open();
  EXPECT_EQ(form->RgMode->ItemIndex(), 1);
  EXPECT_FALSE(form->CbInitStyle->Visible());
  EXPECT_EQ(form->LblFsPolicy->Caption(), T(TTextId::FsPolicyEnabled));

  // The user asks for the whole device of a disk with volumes: told why not, back to free space.
  script.Box(IDOK);
  ASSERT_TRUE(ui.Select("RgMode", 0));
  EXPECT_EQ(BoxTexts(), TBoxes{B(TTextId::RestrictionCaption, TTextId::FullTrimNeedsNoVolumes)});
  EXPECT_EQ(form->RgMode->ItemIndex(), 1);

  struct Pick {
    int Item;
    int Style;  // CbInitStyle's index
  };
  for (const Pick& P : std::vector<Pick>{{1, 0}, {2, 1}, {3, 0}}) {
    form->CbInitStyle->SetItemIndex(2);  // "Do not initialize", chosen before
    ASSERT_TRUE(ui.Select("CmbDisk", P.Item));
    EXPECT_EQ(form->RgMode->ItemIndex(), 0) << P.Item;  // no volumes: full device
    EXPECT_TRUE(form->CbInitStyle->Visible());
    EXPECT_TRUE(form->LblInitStyle->Visible());
    EXPECT_EQ(form->CbInitStyle->ItemIndex(), P.Style) << P.Item;
    EXPECT_EQ(form->LblFsPolicy->Caption(),
              T(TTextId::FsPolicyDisabledPrefix) + "No NTFS/exFAT/FAT32 volume mapped to selected PhysicalDrive");
  }
  // Free space asked for on a disk without volumes goes back to the whole device.
  ASSERT_TRUE(ui.Select("RgMode", 1));
  EXPECT_EQ(form->RgMode->ItemIndex(), 0);
  EXPECT_EQ(BoxTexts().size(), 1u);

  ASSERT_TRUE(ui.Select("CmbDisk", 2));
  TDiskInfo D;
  ASSERT_TRUE(form->GetSelectedDisk(D));
  EXPECT_EQ(form->QueryPartitionStyle(D), 0);
  D.DevicePath = "\\\\.\\PhysicalDrive9";
  EXPECT_EQ(form->QueryPartitionStyle(D), 2);  // does not open
  m->Storage().AddFault(4, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, SimOutcome::Error(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_TRUE(form->GetSelectedDisk(D));
  EXPECT_EQ(form->QueryPartitionStyle(D), 2);  // a layout larger than the buffer
}

TEST_F(StartTest, TheFlushOfMountedVolumes) {
  AddDisk2(presets::UasEnclosure("UAS SSD", "UAS0002"));
  AddFormatted('F', 2, 2 * kGiB, 1 * kGiB, SimFsKind::kExFat);
  AddFormatted('G', 2, 4 * kGiB, 1 * kGiB, SimFsKind::kFat32);
  Open();
  TDiskInfo D;
  ASSERT_TRUE(form->GetSelectedDisk(D));
  ASSERT_EQ(D.Volumes.size(), 3u);
  EXPECT_TRUE(form->FlushMountedVolumes(D));
  for (const char* P : {"\\\\.\\E:", "\\\\.\\F:", "\\\\.\\G:"})
    EXPECT_TRUE(Logged(std::string("[INFO] FlushFileBuffers succeeded: ") + P));
  EXPECT_EQ(m->VolumeFlush().Flushes('E'), 1);

  SimFault Refuse;
  Refuse.command = SimCommand::VolumeOpen;
  Refuse.winError = ERROR_ACCESS_DENIED;
  m->Bridge().AddFault(2, Refuse);  // every volume of the disk refuses to open ...
  EXPECT_FALSE(form->FlushMountedVolumes(D));
  EXPECT_TRUE(Logged("[WARN] Flush skipped: cannot open \\\\.\\F: (" + WinErrorText(ERROR_ACCESS_DENIED) + ")"));
  m->Bridge().ClearFaults(2);
  m->VolumeFlush().AddFault('F', SimOutcome::Error(ERROR_IO_DEVICE));  // ... or one flush fails: the others go on
  EXPECT_FALSE(form->FlushMountedVolumes(D));
  EXPECT_TRUE(Logged("[WARN] FlushFileBuffers failed: \\\\.\\F: (" + WinErrorText(ERROR_IO_DEVICE) + ")"));
  EXPECT_EQ(m->VolumeFlush().Flushes('G'), 2);

  // Not ticked, or a volume without its letter: nothing is opened.
  D.Volumes[0].HasDriveLetter = false;
  D.Volumes[1].RootPath.clear();
  ASSERT_TRUE(ui.Check("CbAdvanced", true));
  ASSERT_TRUE(ui.Check("CbFlushVolumes", false));
  const size_t Lines = FileLog().size();
  EXPECT_TRUE(form->FlushMountedVolumes(D));
  EXPECT_EQ(FileLog().size(), Lines);
  ASSERT_TRUE(ui.Check("CbFlushVolumes", true));
  m->VolumeFlush().ClearFaults();
  EXPECT_TRUE(form->FlushMountedVolumes(D));
  EXPECT_EQ(m->VolumeFlush().Flushes('E'), 2);  // unchanged: E: has no letter in the record
  EXPECT_EQ(m->VolumeFlush().Flushes('G'), 3);
}

TEST_F(StartTest, TheUnchangedDiskCheckNamesTheFirstDifference) {
  AddDisk2(presets::UasEnclosure("UAS SSD", "UAS0002"));
  AddFormatted('F', 2, 2 * kGiB, 1 * kGiB, SimFsKind::kExFat);
  Open();
  TDiskInfo Listed;
  ASSERT_TRUE(form->GetSelectedDisk(Listed));
  std::string Reason = "x";
  EXPECT_TRUE(form->CheckDiskUnchanged(Listed, Reason));
  EXPECT_EQ(Reason, "");

  struct Case {
    const char* Name;
    std::function<void(TDiskInfo&)> Change;
    const char* Reason;
  };
  const std::vector<Case> Cases = {
      {"other serial", [](TDiskInfo& D) { D.Serial = "OTHER"; },
       "serial number mismatch (different disk now has this drive number)"},
      {"serial not known yet", [](TDiskInfo& D) { D.Serial.clear(); }, ""},
      {"size", [](TDiskInfo& D) { D.SizeBytes = 4 * kGiB; },
       "disk size mismatch (cached=4294967296, live=8589934592)"},
      {"size not known", [](TDiskInfo& D) { D.SizeBytes = 0; }, ""},
      {"a volume more", [](TDiskInfo& D) { D.Volumes.pop_back(); }, "volume count changed (cached=1, live=2)"},
      {"letter", [](TDiskInfo& D) { D.Volumes[1].DriveLetter = "Q:"; }, "volume Q: no longer mapped to this disk"},
      {"file system", [](TDiskInfo& D) { D.Volumes[1].FileSystem = "NTFS"; },
       "volume F: file system changed (NTFS -> exFAT)"},
      {"file system case", [](TDiskInfo& D) { D.Volumes[1].FileSystem = "EXFAT"; }, ""},
      {"offset", [](TDiskInfo& D) { D.Volumes[0].PartitionOffset += 4096; }, "volume E: partition layout changed"},
      {"length", [](TDiskInfo& D) { D.Volumes[1].PartitionLength -= 4096; }, "volume F: partition layout changed"},
      {"gone", [](TDiskInfo& D) { D.DevicePath = "\\\\.\\PhysicalDrive7"; },
       "disk not accessible (removed or renumbered)"},
  };
  for (const Case& C : Cases) {
    TDiskInfo D = Listed;
    C.Change(D);
    EXPECT_EQ(form->CheckDiskUnchanged(D, Reason), std::string(C.Reason).empty()) << C.Name;
    EXPECT_EQ(Reason, C.Reason) << C.Name;
  }
}

TEST_F(StartTest, TheFileSystemPolicy) {
  Open();
  struct Case {
    std::vector<std::string> Fs;
    bool Ok;
    const char* Reason;
  };
  const char* kFat =
      "FAT12/16 volumes (shown as FAT) cannot use free-space TRIM here; use NTFS, exFAT, or FAT32 - or "
      "delete all volumes for full-device TRIM";
  const char* kNone = "No NTFS/exFAT/FAT32 volume mapped to selected PhysicalDrive";
  for (const Case& C :
       std::vector<Case>{{{}, false, kNone},
                         {{"NTFS"}, true, "ok"},
                         {{" exfat "}, true, "ok"},
                         {{"FAT", "FAT32"}, true, "ok"},
                         {{"FAT"}, false, kFat},
                         {{"fat "}, false, kFat},
                         {{"NTFS", "RAW/Unknown"}, false, "RAW/Unknown volume exists on this disk"},
                         {{"raw/unknown"}, false, kNone},
                         {{"ReFS"}, false, kNone}}) {
    TDiskInfo D;
    for (const std::string& Fs : C.Fs) {
      TVolumeInfo V;
      V.FileSystem = Fs;
      D.Volumes.push_back(V);
    }
    std::string Reason;
    EXPECT_EQ(form->CheckFsPolicy(D, Reason), C.Ok) << ::testing::PrintToString(C.Fs);
    EXPECT_EQ(Reason, C.Reason) << ::testing::PrintToString(C.Fs);
  }
}

// The user cancels while the run's first request (the Block Limits inquiry) is with the bridge;
// Start meanwhile says a run is going. The cancelled run is not reported as a success.
TEST_F(StartTest, CancelDuringARun) {
  AddDisk2(presets::UasEnclosure("UAS SSD", "UAS0002"));
  for (uint64_t I = 0; I < 5; I++) ASSERT_TRUE(AllocateRuns(m->Storage(), 'E', {{20000 + I * 3000, 700}}));
  SimFault Slow;
  Slow.command = SimCommand::Inquiry;
  Slow.nth = 1;
  Slow.kind = SimFaultKind::Delay;
  Slow.delayMs = 3000;
  Open();
  m->Bridge().AddFault(2, Slow);
  script.Box(IDOK).Box(IDYES).Input("2");
  ASSERT_TRUE(ui.Click("BtnStart"));
  ui.RunFor(1000);
  ASSERT_TRUE(form->BtnCancel->Enabled());
  EXPECT_FALSE(ui.Click("BtnStart"));
  EXPECT_EQ(form->LblStatus->Caption(), T(TTextId::StatusRunning));
  script.Box(IDOK);
  form->BtnStartClick(nullptr);
  EXPECT_EQ(BoxTexts().back(), B(TTextId::RunningCaption, TTextId::AlreadyRunning));
  script.Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnCancel"));
  EXPECT_TRUE(Logged("[WARN] Cancel requested by user"));
  Settle(30000);
  EXPECT_EQ(BoxTexts().back(), B(TTextId::InfoCaption, TTextId::CancelledByUser));
  EXPECT_TRUE(Logged("[INFO] Run completed: planned=2, done=0, success=0, failed=0, skipped=2"));
  EXPECT_TRUE(m->Storage().Disk(2)->drive.Ledger().empty());
  EXPECT_TRUE(form->BtnStart->Enabled());
  EXPECT_FALSE(form->BtnCancel->Enabled());
  form->BtnCancelClick(nullptr);  // no run: nothing
  EXPECT_EQ(CountLogged("Cancel requested by user"), 1u);
}

// The user cancels while the run's first storage TRIM request is with Windows but not yet with
// the driver: Windows accepts that cancel and it is lost, and the request then hangs. The run
// asks again each second, so the hang ends at the first cancel after it began.
struct LostCancelTest : StartTest {
  long TrimRequests() {
    const auto R = m->Bridge().Requests();
    return static_cast<long>(std::count_if(
        R.begin(), R.end(), [](const SimRequestRecord& Q) { return Q.command == SimCommand::StorageTrim; }));
  }
  // A free-space run on a UAS disk whose first storage TRIM request is with Windows for a minute
  // before the driver has it (a cancel then is accepted and lost), and then hangs until cancelled.
  void StartRunWhoseFirstTrimIsDeafThenHangs() {
    AddDisk2(presets::UasEnclosure("UAS SSD", "UAS0002"));
    for (uint64_t I = 0; I < 5; I++) ASSERT_TRUE(AllocateRuns(m->Storage(), 'E', {{20000 + I * 3000, 700}}));
    SimFault Hang;
    Hang.command = SimCommand::StorageTrim;
    Hang.nth = 1;
    Hang.kind = SimFaultKind::HangUntilCancel;
    Hang.delayMs = 60000;  // longer than any wait below: the click lands before the driver has it
    Hang.ignoresCancel = true;
    Open();
    m->Bridge().AddFault(2, Hang);
    script.Box(IDOK).Box(IDYES).Input("2");
    ASSERT_TRUE(ui.Click("BtnStart"));
    ASSERT_TRUE(ui.RunUntil([&] { return TrimRequests() == 1; }, 5000));
  }
};

TEST_F(LostCancelTest, ACancelThatMissesTheRequestIsAskedAgainUntilTheRunEnds) {
  ASSERT_NO_FATAL_FAILURE(StartRunWhoseFirstTrimIsDeafThenHangs());
  const uint64_t SentAt = m->Kernel().NowMs();
  script.Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnCancel"));
  ASSERT_TRUE(ui.RunUntil([&] { return form->BtnStart->Enabled(); }, 120000));
  // The hang began 60 s after the request; the next second's cancel ended it.
  EXPECT_LE(m->Kernel().NowMs() - SentAt, 60000u + 1000u + 5000u);
  EXPECT_EQ(BoxTexts().back(), B(TTextId::InfoCaption, TTextId::CancelledByUser));
  EXPECT_TRUE(Logged("[ERROR] Batch 0 failed: Cancelled by user"));
  EXPECT_EQ(TrimRequests(), 1);
  EXPECT_TRUE(m->Storage().Disk(2)->drive.Ledger().empty());
}

// The same lost cancel, but the thread that would repeat it cannot be created: closing the
// window still ends the hang, since the shutdown asks again each second itself.
TEST_F(LostCancelTest, ClosingAfterACancelWhoseRepeatCouldNotStartStillEndsTheRun) {
  ASSERT_NO_FATAL_FAILURE(StartRunWhoseFirstTrimIsDeafThenHangs());
  m->Kernel().FailThreadCreation(ERROR_NOT_ENOUGH_MEMORY, {.nth = 1, .times = 1});
  ASSERT_TRUE(ui.Click("BtnCancel"));
  EXPECT_TRUE(Logged("[WARN] Cancel will not be repeated: CreateThread failed (winerr=8)"));
  const uint64_t ClosedAt = m->Kernel().NowMs();
  Close();
  EXPECT_LE(m->Kernel().NowMs() - ClosedAt, 60000u + 1000u + 5000u);
  EXPECT_TRUE(Logged("[ERROR] Batch 0 failed: Cancelled by user"));
  // The run ended while the window was already gone: its result went to the log, not to a box.
  EXPECT_TRUE(Logged("[INFO] Result not shown, the window was closed: Operation canceled by user."));
  EXPECT_EQ(m->Kernel().LiveThreads(), 0);
  EXPECT_EQ(TrimRequests(), 1);
  EXPECT_TRUE(m->Storage().Disk(2)->drive.Ledger().empty());
}

// Decided: a run whose thread cannot be created leaves the window idle, says why, and a later
// Start works.
TEST_F(StartTest, ARunThatCannotStartLeavesTheWindowIdle) {
  AddDisk2(presets::UasEnclosure("UAS SSD", "UAS0002"));
  Open();
  ASSERT_TRUE(ui.Check("CbDryRun", true));
  m->Kernel().FailThreadCreation(ERROR_NOT_ENOUGH_MEMORY);
  script.Box(IDOK).Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnStart"));
  const auto Shown = BoxTexts();
  ASSERT_EQ(Shown.size(), 2u);
  EXPECT_EQ(Shown[1].first, T(TTextId::ErrorCaption));
  EXPECT_NE(Shown[1].second.find("CreateThread failed (winerr=8)"), std::string::npos) << Shown[1].second;
  EXPECT_EQ(Boxes()[1].Type & 0xF0u, MB_ICONERROR);
  EXPECT_TRUE(Logged("[ERROR] TRIM execution could not be started: CreateThread failed (winerr=8)"));
  EXPECT_TRUE(form->BtnStart->Enabled());
  EXPECT_FALSE(form->BtnCancel->Enabled());
  EXPECT_EQ(form->LblStatus->Caption(), T(TTextId::StatusIdle));

  script.Box(IDOK).Box(IDOK);
  ASSERT_TRUE(ui.Click("BtnStart"));
  Settle();
  EXPECT_EQ(BoxTexts().back(), B(TTextId::InfoCaption, TTextId::TrimCompleted));
}

// An MBR counts in 32-bit addresses of the disk's logical blocks: on a disk with more than 2^32 of
// them GPT is preselected even where the old table was MBR, and MBR is refused at Start, with the
// limit named, before anything is asked of the disk. 512-byte blocks give 2 TiB, 4096-byte 16 TiB.
TEST_F(StartTest, AnMbrIsNeverWrittenWhereItCannotAddressTheWholeDisk) {
  constexpr uint64_t kTiB = 1024 * kGiB;
  const struct {
    int Number;
    uint64_t Bytes;
    uint32_t BlockBytes;
    bool MbrFits;
    const char* Limit;
  } Disks[] = {
      {3, 3 * kTiB, 512, false, "2 TiB"},
      {4, 2 * kTiB, 512, true, "2 TiB"},  // exactly 2^32 blocks
      {5, 12 * kTiB, 4096, true, "16 TiB"},
      {6, 17 * kTiB, 4096, false, "16 TiB"},
  };
  for (const auto& D : Disks) {
    AddUas(D.Number, D.Bytes, "BIG000" + std::to_string(D.Number));
    m->Bridge().SetLogicalBlockSize(D.Number, D.BlockBytes);
    // An old, empty MBR, as Windows writes it whatever the disk's size.
    std::array<uint8_t, 24> In{};
    In[4] = 0x11;
    HANDLE H = Win().CreateFileW("\\\\.\\PhysicalDrive" + std::to_string(D.Number), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    DWORD N = 0;
    ASSERT_TRUE(Win().DeviceIoControl(H, IOCTL_DISK_CREATE_DISK, In.data(), 24, nullptr, 0, &N));
    Win().CloseHandle(H);
    ASSERT_EQ(m->Partitions().Layout(D.Number).style, SimPartitionStyle::kMbr);
  }
  Open();
  for (size_t I = 0; I < std::size(Disks); I++) {
    const auto& D = Disks[I];
    SCOPED_TRACE(D.Number);
    ASSERT_TRUE(ui.Select("CmbDisk", static_cast<int>(I)));
    Settle();
    TDiskInfo Disk;
    ASSERT_TRUE(form->GetSelectedDisk(Disk));
    ASSERT_EQ(Disk.DiskNumber, D.Number);
    ASSERT_TRUE(form->CbInitStyle->Visible());
    EXPECT_EQ(form->CbInitStyle->ItemIndex(), D.MbrFits ? 1 : 0);
    uint64_t Blocks = 0;
    uint32_t BlockBytes = 0;
    EXPECT_EQ(form->MbrAddressesWholeDisk(Disk, Blocks, BlockBytes), D.MbrFits);
    EXPECT_EQ(Blocks, D.Bytes / D.BlockBytes);
    EXPECT_EQ(BlockBytes, D.BlockBytes);
    if (D.MbrFits) continue;

    // The person chooses MBR all the same.
    ASSERT_TRUE(ui.Select("CbInitStyle", 1));
    const size_t Shown = BoxTexts().size();
    const size_t Requests = m->Bridge().Requests().size();
    script.Box(IDOK);
    ASSERT_TRUE(ui.Click("BtnStart"));
    Settle();
    ASSERT_EQ(BoxTexts().size(), Shown + 1);
    EXPECT_EQ(BoxTexts().back(), std::make_pair(T(TTextId::RestrictionCaption),
                                                Format(T(TTextId::MbrBeyondLimitFmt), D.Limit)));
    EXPECT_EQ(Boxes().back().Type, MB_OK | MB_ICONERROR);
    EXPECT_TRUE(Logged(Format("[WARN] MBR initialization refused: PD%d has %u logical blocks of %u bytes; an MBR "
                              "addresses at most 4294967296 (%s)",
                              D.Number, D.Bytes / D.BlockBytes, D.BlockBytes, D.Limit)));
    EXPECT_FALSE(WindowLogHas(T(TTextId::WillInitMbr)));
    EXPECT_FALSE(Started());
    EXPECT_EQ(m->Bridge().Requests().size(), Requests);
    EXPECT_TRUE(form->BtnStart->Enabled());
  }
  EXPECT_EQ(m->Partitions().Layout(3).style, SimPartitionStyle::kMbr);
}

}  // namespace
