// The Setup API: device-information sets and what they list. Records are the caller's bytes,
// handed to Windows as they are.
#include "platform/win32/Win32Platform.h"

#include <windows.h>
#include <setupapi.h>

namespace plat::win32 {

HDEVINFO Win32Platform::SetupDiGetClassDevsW(const GUID* classGuid, const char* enumerator, HWND parent,
                                             DWORD flags) {
  // The program lists by interface class only; an enumerator would need a UTF-16 name.
  if (enumerator) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return ::SetupDiGetClassDevsW(reinterpret_cast<const ::GUID*>(classGuid), nullptr, static_cast<::HWND>(parent),
                                flags);
}

BOOL Win32Platform::SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* interfaceClassGuid,
                                                DWORD memberIndex, void* deviceInterfaceData) {
  return ::SetupDiEnumDeviceInterfaces(set, static_cast<PSP_DEVINFO_DATA>(deviceInfoData),
                                       reinterpret_cast<const ::GUID*>(interfaceClassGuid), memberIndex,
                                       static_cast<PSP_DEVICE_INTERFACE_DATA>(deviceInterfaceData));
}

BOOL Win32Platform::SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, void* deviceInterfaceData, void* detailData,
                                                     DWORD detailSize, DWORD* requiredSize, void* deviceInfoData) {
  ::DWORD required = 0;
  BOOL ok =
      ::SetupDiGetDeviceInterfaceDetailW(set, static_cast<PSP_DEVICE_INTERFACE_DATA>(deviceInterfaceData),
                                         static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detailData), detailSize,
                                         &required, static_cast<PSP_DEVINFO_DATA>(deviceInfoData));
  if (requiredSize) *requiredSize = required;
  return ok;
}

BOOL Win32Platform::SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, void* deviceInfoData, DWORD property,
                                                      DWORD* propertyRegDataType, BYTE* buffer, DWORD bufferSize,
                                                      DWORD* requiredSize) {
  ::DWORD type = 0, required = 0;
  BOOL ok = ::SetupDiGetDeviceRegistryPropertyW(set, static_cast<PSP_DEVINFO_DATA>(deviceInfoData), property,
                                                &type, buffer, bufferSize, &required);
  if (propertyRegDataType) *propertyRegDataType = type;
  if (requiredSize) *requiredSize = required;
  return ok;
}

BOOL Win32Platform::SetupDiDestroyDeviceInfoList(HDEVINFO set) { return ::SetupDiDestroyDeviceInfoList(set); }

}  // namespace plat::win32
