#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "EngineTestUtil.h"
#include "device/uAtaPassThrough.h"
#include "platform/WinStorage.h"
#include "device/uScsiPassThrough.h"
#include "engine/uValidation.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;

namespace {

class ValidatorTest : public ::testing::Test {
 protected:
  ValidatorTest() {
    M->Storage().AddDisk(1, 1 << 20);
    Disk.DiskNumber = 1;
    Disk.DevicePath = "\\\\.\\PhysicalDrive1";
  }
  std::shared_ptr<SimDiskChecks> Checks() { return M->FsControl().Checks(1); }
  void ExpectNoHandleLeft() { EXPECT_EQ(M->Kernel().OpenHandleCount(), Handles); }

  ScopedSimMachine M;
  TRecordedLog Rec;
  TPreflightValidator V{Rec.Log()};
  TDiskInfo Disk;
  size_t Handles = M->Kernel().OpenHandleCount();
};

TEST_F(ValidatorTest, IsElevatedWithItsFallback) {
  struct Case {
    const char* Name;
    bool Elevated;
    DWORD OpenError, QueryError;
    bool Drive0;
    bool Want;
  };
  const Case Cases[] = {
      {"elevated token", true, 0, 0, false, true},
      {"not elevated, no raw access", false, 0, 0, false, false},
      {"not elevated, PhysicalDrive0 opens", false, 0, 0, true, true},
      {"token does not open", true, ERROR_ACCESS_DENIED, 0, false, false},
      {"token query fails", true, 0, ERROR_INVALID_PARAMETER, false, false},
      {"token query fails, PhysicalDrive0 opens", true, 0, ERROR_ACCESS_DENIED, true, true},
  };
  for (const Case& C : Cases) {
    M->Security().SetElevated(C.Elevated);
    M->Security().SetOpenTokenError(C.OpenError);
    M->Security().SetQueryTokenError(C.QueryError);
    if (C.Drive0)
      M->Storage().AddDisk(0, 100);
    else
      M->Storage().DetachDisk(0);
    EXPECT_EQ(V.IsElevated(), C.Want) << C.Name;
    ExpectNoHandleLeft();
  }
}

TEST_F(ValidatorTest, PolicyAndTransportTable) {
  Disk.SystemCritical = true;
  EXPECT_FALSE(V.CheckSystemDiskPolicy(Disk, true).Ok);
  EXPECT_EQ(V.CheckSystemDiskPolicy(Disk, true).Message,
            "Blocked: selected disk is system-critical (boot/pagefile risk)");
  EXPECT_TRUE(V.CheckSystemDiskPolicy(Disk, false).Ok);
  Disk.SystemCritical = false;
  EXPECT_EQ(V.CheckSystemDiskPolicy(Disk, true).Message, "System disk policy check passed");

  struct Case {
    TTransportKind Kind;
    bool Require, Ok;
    const char* Msg;
  };
  const Case Cases[] = {
      {TTransportKind::tkBOT, true, true,
       "Transport: BOT (ATA Pass-Through after lock+dismount; Pinned Volume guard not applicable)"},
      {TTransportKind::tkUAS, true, true,
       "Transport: UASP (DSM TRIM incl. FS-cooperative retry / SCSI UNMAP / WRITE SAME(16)+UNMAP fallback / ATA "
       "Pass-Through under Pinned Volume guard / Optimize-Volume -ReTrim fallback)"},
      {TTransportKind::tkNonUsb, true, false,
       "USB transport not detected (BOT/UASP required). Reconnect device and retry."},
      {TTransportKind::tkUnknown, true, false,
       "USB transport not detected (BOT/UASP required). Reconnect device and retry."},
      {TTransportKind::tkNonUsb, false, true, "Unknown USB transport. Dry-run allowed only."},
      {TTransportKind::tkUnknown, false, true, "Unknown USB transport. Dry-run allowed only."},
  };
  for (const Case& C : Cases) {
    Disk.Transport = C.Kind;
    const TValidationResult R = V.CheckTransport(Disk, C.Require);
    EXPECT_EQ(R.Ok, C.Ok) << C.Msg;
    EXPECT_EQ(R.Message, C.Msg);
    EXPECT_FALSE(R.Warning);
  }
}

TEST_F(ValidatorTest, DiskWritable) {
  TValidationResult R = V.CheckDiskWritable(Disk);
  EXPECT_TRUE(R.Ok);
  EXPECT_EQ(R.Message, "Disk writable check: writable");
  Checks()->writableError = ERROR_WRITE_PROTECT;
  R = V.CheckDiskWritable(Disk);
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(R.Message, "Disk writable check failed: " + WinErrorText(ERROR_WRITE_PROTECT));
  EXPECT_FALSE(R.Warning);
  Disk.DevicePath = "\\\\.\\PhysicalDrive9";
  R = V.CheckDiskWritable(Disk);
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(R.Message, "Cannot open disk with RW access: " + WinErrorText(ERROR_FILE_NOT_FOUND));
  ExpectNoHandleLeft();
}

TEST_F(ValidatorTest, TrimSupportTable) {
  struct Case {
    DWORD Error;
    bool Enabled;
    DWORD AnswerBytes;
    bool Ok, Warning;
    std::string Msg;
  };
  auto U = [&](int E) {
    return "TRIM support query unsupported on this bridge (winerr=" + std::to_string(E) +
           "). Continue with runtime validation.";
  };
  const Case Cases[] = {
      {0, true, 12, true, false, "TRIM support check passed"},
      {0, false, 12, true, true, "TRIM support reported disabled by bridge; hardware TRIM paths likely to fail"},
      {0, true, 8, true, true, "TRIM support reported disabled by bridge; hardware TRIM paths likely to fail"},
      {0, true, 9, true, false, "TRIM support check passed"},
      {1, true, 12, true, true, U(1)},
      {24, true, 12, true, true, U(24)},
      {50, true, 12, true, true, U(50)},
      {87, true, 12, true, true, U(87)},
      {5, true, 12, false, false, "TRIM support query failed (winerr=5): " + WinErrorText(5)},
      {1117, true, 12, false, false, "TRIM support query failed (winerr=1117): " + WinErrorText(1117)},
  };
  for (const Case& C : Cases) {
    *Checks() = SimDiskChecks{0, C.Error, C.Enabled, C.AnswerBytes};
    const TValidationResult R = V.CheckTrimSupport(Disk);
    EXPECT_EQ(R.Ok, C.Ok) << C.Msg;
    EXPECT_EQ(R.Warning, C.Warning) << C.Msg;
    EXPECT_EQ(R.Message, C.Msg);
  }
  Disk.DevicePath = "\\\\.\\PhysicalDrive9";
  const TValidationResult R = V.CheckTrimSupport(Disk);
  EXPECT_FALSE(R.Ok);
  EXPECT_FALSE(R.Warning);
  EXPECT_EQ(R.Message, "TRIM support query open failed: " + WinErrorText(ERROR_FILE_NOT_FOUND));
  ExpectNoHandleLeft();
  for (uint32_t E : {1u, 24u, 50u, 87u}) EXPECT_TRUE(IsTrimQueryUnsupportedError(E));
  for (uint32_t E : {0u, 5u, 31u, 1117u}) EXPECT_FALSE(IsTrimQueryUnsupportedError(E));
}

// A bridge that answers IDENTIFY DEVICE, with or without the TRIM bit (word 169 bit 0).
void AnswerIdentify(SimMachine& M, bool Trim) {
  M.Storage().RegisterIoctl(plat::IOCTL_SCSI_PASS_THROUGH_DIRECT, [Trim](SimDeviceCall& C) {
    auto* B = static_cast<uint8_t*>(C.in);
    uint8_t* Data = nullptr;
    std::memcpy(&Data, B + sptd::kDataBuffer, sizeof Data);
    std::memset(Data, 0, 512);
    Data[338] = Trim ? 1 : 0;
    std::memcpy(Data + 54, "aMpelS SS D", 11);
    B[sptd::kScsiStatus] = 0;
    C.SetReturned(C.inSize);
    return TRUE_;
  });
}

TEST_F(ValidatorTest, ProbeBridgeOutcomes) {
  // First a bridge without SAT: every pass-through is refused as an unknown request.
  M->Storage().RegisterIoctl(plat::IOCTL_SCSI_PASS_THROUGH_DIRECT, [](SimDeviceCall&) -> BOOL {
    plat::Win().SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE_;
  });
  Disk.Transport = TTransportKind::tkBOT;
  TValidationResult R = V.ProbeBridge(Disk);
  EXPECT_TRUE(R.Ok);
  EXPECT_EQ(R.Message,
            "Bridge probe(open path) passed, but SAT IDENTIFY pass-through failed; ATA TRIM may not work on this "
            "BOT bridge");
  EXPECT_TRUE(Rec.Has({"[WARN] Bridge probe(open path) passed, but SAT IDENTIFY"}));
  Disk.Transport = TTransportKind::tkUAS;
  R = V.ProbeBridge(Disk);
  EXPECT_EQ(
      R.Message,
      "Bridge probe(open path) passed; SAT IDENTIFY pass-through unavailable (SCSI UNMAP/DSM paths will be used)");

  AnswerIdentify(*M, true);
  const size_t Warns = Rec.Lines().size();
  R = V.ProbeBridge(Disk);
  EXPECT_TRUE(R.Ok);
  EXPECT_EQ(R.Message, "Bridge probe passed; SAT IDENTIFY ok, drive reports TRIM supported");
  AnswerIdentify(*M, false);
  R = V.ProbeBridge(Disk);
  EXPECT_EQ(R.Message, "Bridge probe passed; SAT IDENTIFY ok, drive reports TRIM NOT supported");
  for (size_t i = Warns; i < Rec.Lines().size(); ++i) EXPECT_EQ(Rec.Lines()[i].find("[WARN]"), std::string::npos);

  Disk.DevicePath = "\\\\.\\PhysicalDrive9";
  R = V.ProbeBridge(Disk);
  EXPECT_FALSE(R.Ok);
  EXPECT_FALSE(R.Warning);
  EXPECT_EQ(R.Message, "Bridge probe(open path) failed: " + WinErrorText(ERROR_FILE_NOT_FOUND));
  ExpectNoHandleLeft();
}

TEST_F(ValidatorTest, ValidateCdbHandsOnTheEnginesVerdict) {
  TAtaPassThroughEngine Engine(nullptr);
  std::array<uint8_t, 16> Cdb{};
  ASSERT_TRUE(TAtaPassThroughEngine::BuildPt16DsmCdb(1, Cdb, 6, true, false));
  TValidationResult R = V.ValidateCdb(Engine, Cdb, 512);
  EXPECT_TRUE(R.Ok) << R.Message;
  EXPECT_EQ(R.Message, "ok");
  R = V.ValidateCdb(Engine, Cdb, 1024);  // the block says one sector
  EXPECT_FALSE(R.Ok);
  EXPECT_NE(R.Message, "ok");
}

}  // namespace
