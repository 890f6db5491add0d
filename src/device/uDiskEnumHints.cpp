// Evidence of how a disk is attached: the device-interface registry hints, the storage
// descriptor's bus type and driver words, and the rules that turn them into a transport.
#include <cstring>
#include <vector>

#include "core/uLogger.h"
#include "core/uUtf.h"
#include "device/uDiskEnum.h"
#include "device/uDiskEnumDetail.h"
#include "platform/WinStorage.h"

using namespace diskenum_detail;
using plat::DWORD;

namespace {

constexpr DWORD kDetailBufferBytes = 2052;
constexpr DWORD kServiceBytes = 512;
constexpr DWORD kEnumeratorBytes = 512;
constexpr DWORD kHardwareIdBytes = 2048;
constexpr int32_t kHardwareIdMaxChars = 1024;
// A descriptor is a few hundred bytes; a header claiming more than this is not believed
// further than this (the query then returns what fits).
constexpr DWORD kMaxDescriptorBytes = 64 * 1024;

// A registry text property, up to its first NUL and never past the buffer; empty when the
// property cannot be read.
std::string ReadTextProperty(plat::HDEVINFO Set, std::vector<uint8_t>& DevInfo, DWORD Property, DWORD Bytes,
                             int32_t MaxChars) {
  std::vector<char16_t> Buf(Bytes / 2, u'\0');
  DWORD Type = 0, Required = 0;
  if (!plat::Win().SetupDiGetDeviceRegistryPropertyW(Set, DevInfo.data(), Property, &Type,
                                                     reinterpret_cast<uint8_t*>(Buf.data()), Bytes, &Required))
    return {};
  const int32_t Room = static_cast<int32_t>(Buf.size());
  return UpperAscii(TDiskEnumerator::WideBufToString(Buf.data(), MaxChars < Room ? MaxChars : Room));
}

}  // namespace

void TDiskEnumerator::Log(const std::string& Msg) const {
  if (FLogger) FLogger->Info(Msg);
}

plat::HANDLE TDiskEnumerator::OpenDevice(const std::string& Path, DWORD Access) {
  return plat::Win().CreateFileW(Path, Access, plat::FILE_SHARE_READ | plat::FILE_SHARE_WRITE, plat::OPEN_EXISTING,
                                 plat::FILE_ATTRIBUTE_NORMAL);
}

std::string TDiskEnumerator::BuildRegistryHint(const std::string& Service, const std::string& Enumerator,
                                               const std::string& HardwareId) {
  std::string Hint;
  auto Add = [&Hint](const char* Name, const std::string& Value) {
    if (Value.empty()) return;
    if (!Hint.empty()) Hint += ';';
    Hint += Name;
    Hint += UpperAscii(Value);
  };
  Add("SERVICE=", Service);
  Add("ENUM=", Enumerator);
  Add("HWID=", HardwareId);
  return Hint;
}

TDiskHintMap TDiskEnumerator::BuildDiskHintMap() const {
  TDiskHintMap Map;
  const uint64_t Start = plat::Win().GetTickCount64();
  plat::HDEVINFO Set = plat::Win().SetupDiGetClassDevsW(&plat::kGuidDevInterfaceDisk, nullptr, nullptr,
                                                        plat::DIGCF_PRESENT | plat::DIGCF_DEVICEINTERFACE);
  if (Set == nullptr || Set == plat::InvalidHandleValue()) return Map;

  for (DWORD Index = 0;; ++Index) {
    std::vector<uint8_t> Iface(plat::spdi::kInterfaceDataSize, 0);
    PutLE32(Iface, 0, plat::spdi::kInterfaceDataSize);
    if (!plat::Win().SetupDiEnumDeviceInterfaces(Set, nullptr, &plat::kGuidDevInterfaceDisk, Index, Iface.data()))
      break;

    // The detail record holds UTF-16 from byte 4: keep it in 16-bit units so the path reads aligned.
    std::vector<char16_t> Detail(kDetailBufferBytes / 2, u'\0');
    auto* DetailBytes = reinterpret_cast<uint8_t*>(Detail.data());
    PutLE32(std::span<uint8_t>(DetailBytes, kDetailBufferBytes), 0, DetailDataCbSize());
    std::vector<uint8_t> DevInfo(plat::spdi::kDevInfoDataSize, 0);
    PutLE32(DevInfo, 0, plat::spdi::kDevInfoDataSize);
    DWORD Required = 0;
    if (!plat::Win().SetupDiGetDeviceInterfaceDetailW(Set, Iface.data(), DetailBytes, kDetailBufferBytes, &Required,
                                                      DevInfo.data()))
      continue;

    const std::string Service = ReadTextProperty(Set, DevInfo, plat::SPDRP_SERVICE, kServiceBytes, INT32_MAX);
    const std::string Enumerator =
        ReadTextProperty(Set, DevInfo, plat::SPDRP_ENUMERATOR_NAME, kEnumeratorBytes, INT32_MAX);
    const std::string HardwareId =
        ReadTextProperty(Set, DevInfo, plat::SPDRP_HARDWAREID, kHardwareIdBytes, kHardwareIdMaxChars);
    const std::string Hint = BuildRegistryHint(Service, Enumerator, HardwareId);

    const std::string Path =
        WideBufToString(Detail.data() + plat::spdi::kDetailPath / 2,
                        static_cast<int32_t>((kDetailBufferBytes - plat::spdi::kDetailPath) / 2));
    THandleGuard H(OpenDevice(Path, 0));
    if (!H.Valid()) continue;
    std::vector<uint8_t> Number(plat::sdn::kSize, 0);
    DWORD Returned = 0;
    if (plat::Win().DeviceIoControl(H.Get(), plat::IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, Number.data(),
                                    plat::sdn::kSize, &Returned))
      Map[GetLE32(Number, plat::sdn::kDeviceNumber)] = Hint;
  }
  plat::Win().SetupDiDestroyDeviceInfoList(Set);

  Log("BuildDiskHintMap: entries=" + std::to_string(Map.size()) +
      " elapsed_ms=" + std::to_string(plat::Win().GetTickCount64() - Start));
  return Map;
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

std::string TDiskEnumerator::QueryBusHint(plat::HANDLE Handle) const {
  std::vector<uint8_t> Query = PropertyQuery(plat::spq::StorageDeviceProperty);
  std::vector<uint8_t> Header(plat::sdd::kHeaderSize, 0);
  DWORD Returned = 0;
  if (!plat::Win().DeviceIoControl(Handle, plat::IOCTL_STORAGE_QUERY_PROPERTY, Query.data(), plat::spq::kSize,
                                   Header.data(), plat::sdd::kHeaderSize, &Returned)) {
    if (FLogger) Log("QueryBusHint: header IOCTL failed, err=" + std::to_string(plat::Win().GetLastError()));
    return "Unknown";
  }
  const DWORD Size = GetLE32(Header, plat::sdd::kSizeField);
  if (Size < plat::sdd::kFixedSize) return "Unknown";

  std::vector<uint8_t> Desc(Size < kMaxDescriptorBytes ? Size : kMaxDescriptorBytes, 0);
  if (!plat::Win().DeviceIoControl(Handle, plat::IOCTL_STORAGE_QUERY_PROPERTY, Query.data(), plat::spq::kSize,
                                   Desc.data(), static_cast<DWORD>(Desc.size()), &Returned)) {
    if (FLogger)
      Log("QueryBusHint: data IOCTL failed, err=" + std::to_string(plat::Win().GetLastError()) +
          " hdr_size=" + std::to_string(Size));
    return "Unknown";
  }
  const std::span<const uint8_t> Tail = std::span<const uint8_t>(Desc).subspan(plat::sdd::kFixedSize);
  const std::string Printable = PrintableUpper(Tail, static_cast<int32_t>(Tail.size()) - 1);
  return BusPartText(GetLE32(Desc, plat::sdd::kBusType)) + TailMarker(Printable);
}

TTransportKind TDiskEnumerator::ClassifyTransport(const std::string& Hint) {
  const std::string H = UpperAscii(Hint);
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
  if (HighIndex < 0) return S;
  const size_t Last = static_cast<size_t>(HighIndex) < Buf.size() ? static_cast<size_t>(HighIndex) : Buf.size() - 1;
  if (Buf.empty()) return S;
  S.reserve(Last + 1);
  for (size_t i = 0; i <= Last; ++i) {
    const uint8_t B = Buf[i];
    S += (B < 32 || B > 126) ? ' ' : static_cast<char>(B);
  }
  return UpperAscii(std::move(S));
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
  const int64_t V = static_cast<int64_t>(GetLE(std::span<const uint8_t>(P, 8), 0, 8));
  return V < 0 ? 0 : V;
}
