// Evidence of how a disk is attached: the device-interface registry hints and the storage
// descriptor's bus type and driver words.
#include <vector>

#include "core/uFormat.h"
#include "core/uLogger.h"
#include "core/uText.h"
#include "device/uDeviceHandle.h"
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
  return UpperCase(TDiskEnumerator::WideBufToString(Buf.data(), MaxChars < Room ? MaxChars : Room));
}

// A zeroed Setup API record of Size bytes with its cbSize field set.
std::vector<uint8_t> SetupRecord(DWORD Size, DWORD CbSize) {
  std::vector<uint8_t> R(Size, 0);
  TByteWriter(R).LE32(0, CbSize);
  return R;
}

}  // namespace

namespace diskenum_detail {

TDescriptorRead ReadDeviceDescriptor(plat::HANDLE Handle, std::vector<uint8_t>& Desc, uint32_t& Size) {
  std::vector<uint8_t> Query = PropertyQuery(plat::spq::StorageDeviceProperty);
  std::vector<uint8_t> Header(plat::sdd::kHeaderSize, 0);
  DWORD Returned = 0;
  Size = 0;
  if (!plat::Win().DeviceIoControl(Handle, plat::IOCTL_STORAGE_QUERY_PROPERTY, Query.data(), plat::spq::kSize,
                                   Header.data(), plat::sdd::kHeaderSize, &Returned))
    return TDescriptorRead::drHeaderFailed;
  Size = TByteReader(Header).LE32(plat::sdd::kSizeField);
  if (Size < plat::sdd::kFixedSize) return TDescriptorRead::drTooSmall;
  Desc.assign(Size < kMaxDescriptorBytes ? Size : kMaxDescriptorBytes, 0);
  if (!plat::Win().DeviceIoControl(Handle, plat::IOCTL_STORAGE_QUERY_PROPERTY, Query.data(), plat::spq::kSize,
                                   Desc.data(), static_cast<DWORD>(Desc.size()), &Returned))
    return TDescriptorRead::drDataFailed;
  return TDescriptorRead::drOk;
}

}  // namespace diskenum_detail

void TDiskEnumerator::Log(const std::string& Msg) const {
  if (FLogger) FLogger->Info(Msg);
}

DWORD TDiskEnumerator::DetailDataCbSize() { return plat::spdi::kDetailCbSize; }

plat::HANDLE TDiskEnumerator::OpenDevice(const std::string& Path, DWORD Access) {
  return plat::Win().CreateFileW(Path, Access, plat::FILE_SHARE_READ | plat::FILE_SHARE_WRITE, plat::OPEN_EXISTING,
                                 plat::FILE_ATTRIBUTE_NORMAL);
}

TDiskHintMap TDiskEnumerator::BuildDiskHintMap() const {
  TDiskHintMap Map;
  const uint64_t Start = plat::Win().GetTickCount64();
  plat::HDEVINFO Set = plat::Win().SetupDiGetClassDevsW(&plat::kGuidDevInterfaceDisk, nullptr, nullptr,
                                                        plat::DIGCF_PRESENT | plat::DIGCF_DEVICEINTERFACE);
  if (Set == nullptr || Set == plat::InvalidHandleValue()) return Map;

  for (DWORD Index = 0;; ++Index) {
    std::vector<uint8_t> Iface = SetupRecord(plat::spdi::kInterfaceDataSize, plat::spdi::kInterfaceDataSize);
    if (!plat::Win().SetupDiEnumDeviceInterfaces(Set, nullptr, &plat::kGuidDevInterfaceDisk, Index, Iface.data()))
      break;

    // The detail record holds UTF-16 from byte 4: keep it in 16-bit units so the path reads aligned.
    std::vector<char16_t> Detail(kDetailBufferBytes / 2, u'\0');
    auto* DetailBytes = reinterpret_cast<uint8_t*>(Detail.data());
    TByteWriter(std::span<uint8_t>(DetailBytes, kDetailBufferBytes)).LE32(0, DetailDataCbSize());
    std::vector<uint8_t> DevInfo = SetupRecord(plat::spdi::kDevInfoDataSize, plat::spdi::kDevInfoDataSize);
    DWORD Required = 0;
    if (!plat::Win().SetupDiGetDeviceInterfaceDetailW(Set, Iface.data(), DetailBytes, kDetailBufferBytes,
                                                      &Required, DevInfo.data()))
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
    TDeviceHandle H(OpenDevice(Path, 0));
    if (!H.Valid()) continue;
    std::vector<uint8_t> Number(plat::sdn::kSize, 0);
    DWORD Returned = 0;
    if (plat::Win().DeviceIoControl(H.Get(), plat::IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, Number.data(),
                                    plat::sdn::kSize, &Returned))
      Map[TByteReader(Number).LE32(plat::sdn::kDeviceNumber)] = Hint;
  }
  plat::Win().SetupDiDestroyDeviceInfoList(Set);

  Log(Format("BuildDiskHintMap: entries=%d elapsed_ms=%d", static_cast<int32_t>(Map.size()),
             plat::Win().GetTickCount64() - Start));
  return Map;
}

std::string TDiskEnumerator::QueryBusHint(plat::HANDLE Handle) const {
  std::vector<uint8_t> Desc;
  uint32_t Size = 0;
  switch (ReadDeviceDescriptor(Handle, Desc, Size)) {
    case TDescriptorRead::drHeaderFailed:
      Log(Format("QueryBusHint: header IOCTL failed, err=%d", plat::Win().GetLastError()));
      return "Unknown";
    case TDescriptorRead::drTooSmall: return "Unknown";
    case TDescriptorRead::drDataFailed:
      Log(Format("QueryBusHint: data IOCTL failed, err=%d hdr_size=%d", plat::Win().GetLastError(), Size));
      return "Unknown";
    case TDescriptorRead::drOk: break;
  }
  const std::span<const uint8_t> Tail = std::span<const uint8_t>(Desc).subspan(plat::sdd::kFixedSize);
  const std::string Printable = PrintableUpper(Tail, static_cast<int32_t>(Tail.size()) - 1);
  return BusPartText(TByteReader(Desc).LE32(plat::sdd::kBusType)) + TailMarker(Printable);
}
