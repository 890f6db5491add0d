#include <gtest/gtest.h>

#include <array>

#include "device/DeviceTestUtil.h"
#include "base/uByteOrder.h"
#include "device/uScsiPassThrough.h"

using devtest::Hex;

namespace {

std::array<uint8_t, 32> SenseArea(const std::string& HexText) {
  std::array<uint8_t, 32> A{};
  const auto B = Hex(HexText);
  std::copy(B.begin(), B.end(), A.begin());
  return A;
}

}  // namespace

TEST(SenseParser, FormatFollowsResponseCode) {
  struct Case {
    const char* Sense;
    uint8_t Key, Asc, Ascq;
    bool Valid;
  };
  // Fixed: key byte 2, ASC 12, ASCQ 13. Descriptor: key byte 1, ASC 2, ASCQ 3.
  const Case Cases[] = {
      {"70 00 05 00 00 00 00 0A 00 00 00 00 24 00", 5, 0x24, 0, true},
      {"F0 00 03 00 00 00 00 0A 00 00 00 00 11 01", 3, 0x11, 1, true},
      {"71 00 F6 00 00 00 00 0A 00 00 00 00 29 00", 6, 0x29, 0, true},
      {"72 01 00 1D 00 00 00 0E 09 0C", 1, 0x00, 0x1D, true},
      {"F2 05 20 00", 5, 0x20, 0, true},
      {"73 0B 47 03", 0xB, 0x47, 3, true},
      {"00 00 05 00 00 00 00 00 00 00 00 00 24 00", 5, 0x24, 0, false},  // read as fixed, not valid
      {"", 0, 0, 0, false},                                              // untouched area
  };
  for (const Case& K : Cases) {
    const auto S = ParseSense(SenseArea(K.Sense));
    EXPECT_EQ(S.SenseKey, K.Key) << K.Sense;
    EXPECT_EQ(S.Asc, K.Asc) << K.Sense;
    EXPECT_EQ(S.Ascq, K.Ascq) << K.Sense;
    EXPECT_EQ(S.Valid(), K.Valid) << K.Sense;
  }
  // A short area reads zeros past its end rather than beyond it.
  const std::array<uint8_t, 3> Short{0x70, 0x00, 0x05};
  EXPECT_EQ(ParseSense(Short).SenseKey, 5);
  EXPECT_EQ(ParseSense(Short).Asc, 0);
}

TEST(StatusRules, StatusAndSenseGiveResultAndCode) {
  struct Case {
    const char* Name;
    bool WinOk;
    uint32_t WinErr;
    uint8_t Status;
    const char* Sense;
    TStatusRule Rule;
    bool Ok;
    uint32_t ResultErr;
    TDeviceFault Fault;
  };
  using R = TStatusRule;
  using F = TDeviceFault;
  const Case Cases[] = {
      {"good", true, 0, 0x00, "", R::srCkCondOr1117, true, 0, F::dfNone},
      {"ck_cond recovered, descriptor", true, 0, 0x02, "72 01 00 1D", R::srCkCondOr1117, true, 0, F::dfNone},
      {"ck_cond no sense, fixed", true, 0, 0x02, "70 00 00", R::srCkCondOr1117, true, 0, F::dfNone},
      {"illegal request", true, 0, 0x02, "70 00 05 00 00 00 00 0A 00 00 00 00 24", R::srCkCondOr1117, false, 1117,
       F::dfDeviceStatus},
      {"check condition without sense", true, 0, 0x02, "", R::srCkCondOr1117, false, 1117, F::dfDeviceStatus},
      {"busy with key 0", true, 0, 0x08, "70 00 00", R::srCkCondOr1117, false, 1117, F::dfDeviceStatus},
      {"reservation conflict", true, 0, 0x18, "", R::srCkCondOr1117, false, 1117, F::dfDeviceStatus},
      {"task set full", true, 0, 0x28, "", R::srCkCondOr1117, false, 1117, F::dfDeviceStatus},
      {"unmap recovered is still a failure", true, 0, 0x02, "72 01 00 1D", R::srFail1117, false, 1117,
       F::dfDeviceStatus},
      {"identify refused keeps 0", true, 0, 0x02, "72 05 24 00", R::srFailNoCode, false, 0, F::dfDeviceStatus},
      {"windows failure", false, 31, 0x00, "", R::srCkCondOr1117, false, 31, F::dfTransport},
      {"windows failure keeps sense", false, 1117, 0x02, "70 00 04 00 00 00 00 0A 00 00 00 00 44", R::srFail1117,
       false, 1117, F::dfTransport},
  };
  for (const Case& K : Cases) {
    TScsiReply Reply;
    Reply.WinOk = K.WinOk;
    Reply.WinErr = K.WinErr;
    Reply.ScsiStatus = K.Status;
    Reply.Sense = ParseSense(SenseArea(K.Sense));
    const TDeviceResult Res = JudgeScsiReply(Reply, K.Rule);
    EXPECT_EQ(Res.Ok, K.Ok) << K.Name;
    EXPECT_EQ(Res.WinErr, K.ResultErr) << K.Name;
    EXPECT_EQ(Res.Fault, K.Fault) << K.Name;
    EXPECT_EQ(Res.ScsiStatus, K.Status) << K.Name;
    EXPECT_EQ(Res.SenseKey, Reply.Sense.SenseKey) << K.Name;
    EXPECT_EQ(Res.Message.empty(), K.Ok) << K.Name;
  }
  EXPECT_TRUE(DeviceLeftBus(55));
  EXPECT_TRUE(DeviceLeftBus(1167));
  EXPECT_FALSE(DeviceLeftBus(1117));
}

TEST(PassThroughBuffer, FieldsLandAtTheirOffsets) {
  const auto Cdb = Hex("42 00 00 00 00 00 00 00 18 00");
  std::array<uint8_t, 24> Data{};
  TScsiRequest Req;
  Req.Cdb = Cdb;
  Req.Direction = TScsiDirection::sdDataOut;
  Req.Data = Data.data();
  Req.DataLength = 24;
  Req.TimeoutSec = 7;
  std::array<uint8_t, 96> Buf;
  Buf.fill(0xEE);
  ASSERT_TRUE(BuildPassThroughBuffer(Buf, Req));
  TByteReader R(Buf);
  EXPECT_EQ(R.LE16(0), 56);
  EXPECT_EQ(R.U8(6), 10);
  EXPECT_EQ(R.U8(7), 32);
  EXPECT_EQ(R.U8(8), 0);
  EXPECT_EQ(R.LE32(12), 24u);
  EXPECT_EQ(R.LE32(16), 7u);
  EXPECT_EQ(R.LE64(24), reinterpret_cast<uintptr_t>(Data.data()));
  EXPECT_EQ(R.LE32(32), 60u);
  EXPECT_EQ(std::vector<uint8_t>(Buf.begin() + 36, Buf.begin() + 46), Cdb);
  // Everything else is zero: status, ids, alignment, the rest of the block, filler, sense.
  for (size_t I : {2, 3, 4, 5, 9, 10, 11, 20, 21, 22, 23}) EXPECT_EQ(Buf[I], 0) << I;
  for (size_t I = 46; I < 96; ++I) ASSERT_EQ(Buf[I], 0) << I;
}

TEST(PassThroughBuffer, RefusesOddBlockLengthsAndLooseData) {
  std::array<uint8_t, 96> Buf{};
  const auto Cdb = Hex("00 00 00 00 00 00 00 00");
  TScsiRequest Req;
  Req.Cdb = Cdb;
  EXPECT_FALSE(BuildPassThroughBuffer(Buf, Req));
  const auto Six = Hex("12 01 B0 00 40 00");
  Req.Cdb = Six;
  Req.DataLength = 64;  // a length without a buffer
  EXPECT_FALSE(BuildPassThroughBuffer(Buf, Req));
  std::array<uint8_t, 95> Small{};
  Req.DataLength = 0;
  EXPECT_FALSE(BuildPassThroughBuffer(Small, Req));
  EXPECT_TRUE(BuildPassThroughBuffer(Buf, Req));
}

TEST(PassThroughBuffer, TimeoutSecondsRoundDownWithAFloor) {
  EXPECT_EQ(TimeoutSeconds(0, 1), 1u);
  EXPECT_EQ(TimeoutSeconds(999, 1), 1u);
  EXPECT_EQ(TimeoutSeconds(1999, 1), 1u);
  EXPECT_EQ(TimeoutSeconds(2000, 1), 2u);
  EXPECT_EQ(TimeoutSeconds(500, 5), 5u);
  EXPECT_EQ(TimeoutSeconds(3000, 5), 3u);
}

TEST(ByteOrder, PutsAndGetsStayInsideTheSpan) {
  std::array<uint8_t, 8> B{};
  TByteWriter W(B);
  W.BE32(0, 0x01020304);
  W.LE16(4, 0x0506);
  EXPECT_TRUE(W.Ok());
  W.LE32(6, 0xFFFFFFFF);  // would end at 10
  EXPECT_FALSE(W.Ok());
  EXPECT_EQ(B, (std::array<uint8_t, 8>{1, 2, 3, 4, 6, 5, 0, 0}));
  TByteReader R(B);
  EXPECT_EQ(R.BE16(2), 0x0304);
  EXPECT_EQ(R.LE64(1), 0u);
  EXPECT_FALSE(R.Ok());
}
