// Directory entries of FAT32 (a short 8.3 entry after its long-name entries) and exFAT (an
// entry set: file, stream extension, names), built from a file's facts and read back from a
// folder's bytes, exactly as the two file systems lay them out.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/PlatformTypes.h"

namespace plat::sim {

// One entry as a folder holds it.
struct SimFatEntry {
  std::string name;  // UTF-8
  bool dir = false;
  DWORD attrs = 0;            // READONLY, HIDDEN, SYSTEM, ARCHIVE (without DIRECTORY)
  uint32_t firstCluster = 0;  // own numbering, 0: none
  uint64_t size = 0;
  SYSTEMTIME created{}, written{};
  // FAT32: the 11-byte short name, its case bits, and whether long-name entries go before it.
  std::string shortName;
  uint8_t caseBits = 0;
  bool longName = false;
  // exFAT: the clusters follow one another and the FAT holds no chain for them.
  bool noFatChain = false;
  uint64_t at = 0;     // byte of the folder's data where the entry (set) starts
  uint32_t slots = 0;  // 32-byte entries it takes
};

// FAT32: a short name for `name` that no other entry of the folder has (taken: their short
// names), as Windows makes it: the name itself when it is 8.3 (with case bits for an all-lower
// base or extension), otherwise a basis with a numeric tail ("FILE_1~1.BIN") and long entries.
void Fat32ShortName(const std::set<std::string>& taken, const std::string& name, SimFatEntry* e);
std::vector<uint8_t> Fat32EntryBytes(const SimFatEntry& e);
// "." and ".." of a new folder (parent 0: the root).
std::vector<uint8_t> Fat32DotEntries(uint32_t self, uint32_t parent, const SYSTEMTIME& now);

// exFAT: the entry set, its name hashed through the volume's up-case table.
std::vector<uint8_t> ExFatEntryBytes(const SimFatEntry& e, const std::vector<uint16_t>& upcase);

// The entries of a folder's bytes; slots that hold something other than an entry (a label, the
// dot entries, the exFAT bitmap and up-case entries) are listed in `reserved` as (byte, slots).
std::vector<SimFatEntry> ParseFat32Folder(const std::vector<uint8_t>& bytes,
                                          std::vector<std::pair<uint64_t, uint32_t>>* reserved);
std::vector<SimFatEntry> ParseExFatFolder(const std::vector<uint8_t>& bytes,
                                          std::vector<std::pair<uint64_t, uint32_t>>* reserved);

// Marks the entry (set) in `bytes` deleted: FAT32 0xE5, exFAT the in-use bit cleared.
void MarkFatEntryDeleted(bool exfat, std::vector<uint8_t>& bytes);

}  // namespace plat::sim
