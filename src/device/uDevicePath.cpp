#include "device/uDevicePath.h"

#include <cctype>

namespace {

constexpr const char* kDevicePrefix = "\\\\.\\";

}  // namespace

std::string VolumeDevicePath(const std::string& DriveLetter) {
  if (DriveLetter.size() < 2 || !std::isalpha(static_cast<unsigned char>(DriveLetter[0])) || DriveLetter[1] != ':')
    return {};
  return kDevicePrefix + DriveLetter.substr(0, 2);
}

std::string VolumeDevicePath(char Letter) { return VolumeDevicePath(std::string{Letter, ':'}); }

std::string PhysicalDrivePath(int32_t DiskNumber) {
  return kDevicePrefix + std::string("PhysicalDrive") + std::to_string(DiskNumber);
}
