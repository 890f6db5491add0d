// The "\\.\" names of the devices the program opens.
#pragma once

#include <cstdint>
#include <string>

// "\\.\E:" from "E:" (or "E:\"); empty when DriveLetter does not start with a letter and colon.
std::string VolumeDevicePath(const std::string& DriveLetter);
// "\\.\E:" from 'E'; empty when Letter is no letter.
std::string VolumeDevicePath(char Letter);
// "\\.\PhysicalDrive3" from 3.
std::string PhysicalDrivePath(int32_t DiskNumber);
