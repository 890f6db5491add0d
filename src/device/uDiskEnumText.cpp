// The enumerator's text rules: bus-hint pieces, the registry hint, the transport
// classification, and reading texts and numbers out of answer buffers.
#include "core/uText.h"
#include "base/uUtf.h"
#include "base/uByteOrder.h"
#include "device/uDiskEnum.h"
#include "device/uDiskEnumDetail.h"
#include "platform/WinStorage.h"

using namespace diskenum_detail;

std::string TDiskEnumerator::BuildRegistryHint(const std::string& Service, const std::string& Enumerator,
                                               const std::string& HardwareId) {
  std::string Hint;
  auto Add = [&Hint](const char* Name, const std::string& Value) {
    if (Value.empty()) return;
    if (!Hint.empty()) Hint += ';';
    Hint += Name;
    Hint += UpperCase(Value);
  };
  Add("SERVICE=", Service);
  Add("ENUM=", Enumerator);
  Add("HWID=", HardwareId);
  return Hint;
}

std::string TDiskEnumerator::BusPartText(uint32_t BusType) {
  switch (BusType) {
    case plat::BusTypeScsi: return "SCSI";
    case plat::BusTypeAta: return "ATA";
    case plat::BusTypeUsb: return "USB";
    case plat::BusTypeSata: return "SATA";
    case plat::BusTypeNvme: return "NVMe";
    default: return "BusType=" + std::to_string(static_cast<int32_t>(BusType));
  }
}

std::string TDiskEnumerator::TailMarker(const std::string& PrintableTail) {
  // Only the first match counts: a UAS driver name outranks the bulk-only one.
  static constexpr struct {
    const char* Word;
    const char* Marker;
  } kMarkers[] = {
      {"UASPSTOR", ";DRV=UASPSTOR"},
      {"UAS", ";PROTO=UAS"},
      {"USBSTOR", ";DRV=USBSTOR"},
      {"BULK", ";PROTO=BOT"},
  };
  for (const auto& M : kMarkers)
    if (Contains(PrintableTail, M.Word)) return M.Marker;
  return {};
}

TTransportKind TDiskEnumerator::ClassifyTransport(const std::string& Hint) {
  const std::string H = UpperCase(Hint);
  if (Contains(H, "UAS")) return TTransportKind::tkUAS;
  if (Contains(H, "BOT")) return TTransportKind::tkBOT;
  if (Contains(H, "USBSTOR")) return TTransportKind::tkBOT;
  if (Contains(H, "USB") && Contains(H, "ENUM=SCSI")) return TTransportKind::tkUAS;
  if (Contains(H, "USB")) return TTransportKind::tkUnknown;
  if (Contains(H, "ATA") || Contains(H, "SATA") || Contains(H, "NVME") || Contains(H, "SCSI"))
    return TTransportKind::tkNonUsb;
  return TTransportKind::tkUnknown;
}

std::string TDiskEnumerator::WideBufToString(const char16_t* Buf, int32_t MaxChars) {
  if (!Buf || MaxChars <= 0) return {};
  size_t N = 0;
  while (N < static_cast<size_t>(MaxChars) && Buf[N] != u'\0') ++N;
  return Utf16ToUtf8(std::u16string_view(Buf, N));
}

std::string TDiskEnumerator::PrintableUpper(std::span<const uint8_t> Buf, int32_t HighIndex) {
  std::string S;
  if (HighIndex < 0 || Buf.empty()) return S;
  const size_t Last =
      static_cast<size_t>(HighIndex) < Buf.size() ? static_cast<size_t>(HighIndex) : Buf.size() - 1;
  S.reserve(Last + 1);
  for (size_t i = 0; i <= Last; ++i) {
    const uint8_t B = Buf[i];
    S += (B < 32 || B > 126) ? ' ' : static_cast<char>(B);
  }
  return UpperCase(S);
}

std::string TDiskEnumerator::AnsiZToTrimmedString(std::span<const uint8_t> Text) {
  size_t N = 0;
  while (N < Text.size() && Text[N] != 0) ++N;
  if (N == 0) return {};
  const char* Src = reinterpret_cast<const char*>(Text.data());
  const int Units = plat::Win().MultiByteToWideChar(plat::CP_ACP, 0, Src, static_cast<int>(N), nullptr, 0);
  if (Units <= 0) return {};
  std::u16string Wide(static_cast<size_t>(Units), u'\0');
  if (plat::Win().MultiByteToWideChar(plat::CP_ACP, 0, Src, static_cast<int>(N), Wide.data(), Units) != Units)
    return {};
  size_t First = 0, Last = Wide.size();
  while (First < Last && Wide[First] <= 32) ++First;
  while (Last > First && Wide[Last - 1] <= 32) --Last;
  return Utf16ToUtf8(std::u16string_view(Wide).substr(First, Last - First));
}

int64_t TDiskEnumerator::ReadNonNegInt64(const uint8_t* P) {
  if (!P) return 0;
  const int64_t V = static_cast<int64_t>(TByteReader(std::span<const uint8_t>(P, 8)).LE64(0));
  return V < 0 ? 0 : V;
}
