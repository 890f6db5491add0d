#include "device/uDiskEnum.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using TK = TTransportKind;

// Every rule of the classification and the precedence between them: bus parts alone, joined
// with registry hints, and words buried inside longer texts.
TEST(ClassifyTransport, RulesInOrder) {
  struct Case {
    const char* Hint;
    TK Want;
  } Cases[] = {
      // rule 1 beats everything: a UAS word with a BOT enumerator
      {"USB;PROTO=UAS;SERVICE=DISK;ENUM=USBSTOR", TK::tkUAS},
      {"SCSI;DRV=UASPSTOR", TK::tkUAS},
      {"USB;SERVICE=UASPSTOR", TK::tkUAS},
      {"usb;proto=uas", TK::tkUAS},  // compared upper-cased
      // rule 1 and 2 inside longer words
      {"USB;HWID=USBSTOR\\DISKJMICRON_GUASSIAN", TK::tkUAS},
      {"SATA;HWID=ROBOTICS_DISK", TK::tkBOT},
      // rule 2 and 3
      {"USB;PROTO=BOT", TK::tkBOT},
      {"USB;SERVICE=DISK;ENUM=USBSTOR", TK::tkBOT},
      {"BusType=0;ENUM=USBSTOR", TK::tkBOT},
      // rule 4: a USB disk created by the SCSI enumerator
      {"USB;SERVICE=DISK;ENUM=SCSI", TK::tkUAS},
      {"SCSI;ENUM=SCSI", TK::tkNonUsb},  // no USB: rule 6
      // rule 5: USB without further evidence
      {"USB", TK::tkUnknown},
      {"USB;SERVICE=DISK", TK::tkUnknown},
      // rule 6: other named buses
      {"SATA", TK::tkNonUsb},
      {"NVMe", TK::tkNonUsb},
      {"SCSI", TK::tkNonUsb},
      {"ATA", TK::tkNonUsb},
      // rule 7
      {"BusType=12", TK::tkUnknown},
      {"Unknown", TK::tkUnknown},
      {"", TK::tkUnknown},
  };
  for (const auto& C : Cases) EXPECT_EQ(TDiskEnumerator::ClassifyTransport(C.Hint), C.Want) << C.Hint;
}

TEST(BusHint, BusPartPerBusType) {
  EXPECT_EQ(TDiskEnumerator::BusPartText(1), "SCSI");
  EXPECT_EQ(TDiskEnumerator::BusPartText(3), "ATA");
  EXPECT_EQ(TDiskEnumerator::BusPartText(7), "USB");
  EXPECT_EQ(TDiskEnumerator::BusPartText(11), "SATA");
  EXPECT_EQ(TDiskEnumerator::BusPartText(17), "NVMe");
  EXPECT_EQ(TDiskEnumerator::BusPartText(0), "BusType=0");
  EXPECT_EQ(TDiskEnumerator::BusPartText(8), "BusType=8");
}

TEST(BusHint, OnlyTheFirstMatchingMarkerIsAppended) {
  EXPECT_EQ(TDiskEnumerator::TailMarker(" USBSTOR UASPSTOR BULK"), ";DRV=UASPSTOR");
  EXPECT_EQ(TDiskEnumerator::TailMarker("USBSTOR UAS"), ";PROTO=UAS");
  EXPECT_EQ(TDiskEnumerator::TailMarker("BULK USBSTOR"), ";DRV=USBSTOR");
  EXPECT_EQ(TDiskEnumerator::TailMarker("BULK-ONLY"), ";PROTO=BOT");
  EXPECT_EQ(TDiskEnumerator::TailMarker("SAMSUNG SSD"), "");
  EXPECT_EQ(TDiskEnumerator::TailMarker(""), "");
}

TEST(BusHint, RegistryHintSkipsEmptyPartsAndUpperCases) {
  EXPECT_EQ(TDiskEnumerator::BuildRegistryHint("uaspstor", "Usb", "usb\\vid_174c&pid_55aa"),
            "SERVICE=UASPSTOR;ENUM=USB;HWID=USB\\VID_174C&PID_55AA");
  EXPECT_EQ(TDiskEnumerator::BuildRegistryHint("", "SCSI", ""), "ENUM=SCSI");
  EXPECT_EQ(TDiskEnumerator::BuildRegistryHint("disk", "", "x"), "SERVICE=DISK;HWID=X");
  EXPECT_EQ(TDiskEnumerator::BuildRegistryHint("", "", ""), "");
}

TEST(TextRoutines, PrintableUpperReplacesControlAndHighBytes) {
  const std::vector<uint8_t> B = {'a', 0, 'b', 0x1F, 0x7F, 0xC3, 'z', '~', ' '};
  EXPECT_EQ(TDiskEnumerator::PrintableUpper(B, 8), "A B   Z~ ");
  EXPECT_EQ(TDiskEnumerator::PrintableUpper(B, 0), "A");
  EXPECT_EQ(TDiskEnumerator::PrintableUpper(B, -1), "");
  // A high index past the buffer stops at its end.
  EXPECT_EQ(TDiskEnumerator::PrintableUpper(B, 100), "A B   Z~ ");
  EXPECT_EQ(TDiskEnumerator::PrintableUpper({}, 5), "");
}

TEST(TextRoutines, WideBufStopsAtNulOrMaxChars) {
  const char16_t Buf[] = {u'D', u'I', u'S', u'K', 0, u'X'};
  EXPECT_EQ(TDiskEnumerator::WideBufToString(Buf, 6), "DISK");
  EXPECT_EQ(TDiskEnumerator::WideBufToString(Buf, 2), "DI");
  EXPECT_EQ(TDiskEnumerator::WideBufToString(Buf, 0), "");
  EXPECT_EQ(TDiskEnumerator::WideBufToString(Buf, -3), "");
  EXPECT_EQ(TDiskEnumerator::WideBufToString(nullptr, 10), "");
  const char16_t NoNul[] = {u'\xAC00', u'A'};  // no NUL inside: never read past MaxChars
  EXPECT_EQ(TDiskEnumerator::WideBufToString(NoNul, 2),
            "\xEA\xB0\x80"
            "A");
  EXPECT_EQ(TDiskEnumerator::DetailDataCbSize(), 8u);
}

TEST(TextRoutines, ReadNonNegInt64IsUnalignedLittleEndianAndClampsNegatives) {
  std::vector<uint8_t> B(17, 0);
  const uint64_t V = 1073742336ull;  // 1 GiB + 512
  for (int i = 0; i < 8; ++i) B[1 + i] = uint8_t(V >> (8 * i));
  EXPECT_EQ(TDiskEnumerator::ReadNonNegInt64(B.data() + 1), 1073742336);
  for (int i = 0; i < 8; ++i) B[9 + i] = 0xFF;  // -1
  EXPECT_EQ(TDiskEnumerator::ReadNonNegInt64(B.data() + 9), 0);
  B[16] = 0x7F;  // INT64_MAX
  EXPECT_EQ(TDiskEnumerator::ReadNonNegInt64(B.data() + 9), INT64_MAX);
  EXPECT_EQ(TDiskEnumerator::ReadNonNegInt64(nullptr), 0);
}

}  // namespace
