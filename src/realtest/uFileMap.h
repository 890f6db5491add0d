// Where the real test's files lie on the physical disk, and what lies under its folder: the
// sector rule shared by created_files.csv, deleted_files.csv and file_map.csv, their header
// lines and rows, the recursive listing of the test folder, and the few folder queries the test
// makes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/uCsv.h"  // CsvField: the one quoting rule of the rows
#include "core/uTypes.h"
#include "platform/PlatformTypes.h"

// A volume's geometry in 512-byte sectors of the physical disk.
struct TSectorGeometry {
  uint64_t PartStart = 0;          // the volume's first sector
  uint64_t SectorsPerCluster = 8;  // 8 when the volume reports no cluster size
  uint64_t HeapOffset = 0;         // from the volume start to cluster 0 of the file system's numbering
  uint64_t PartSectors = 0;        // the volume's length: no span may leave it (0: none fits)
};
// Reads the heap offset from the volume's boot sector (GetClusterHeapOffset).
TSectorGeometry SectorGeometryOf(const TVolumeInfo& Volume);

// The volume of Disk whose drive letter Path starts with ("E:\..." is on "E:", any case);
// nullptr when none is. A file's sectors are only ever computed against its own volume.
const TVolumeInfo* VolumeOfPath(const TDiskInfo& Disk, const std::string& Path);

// First and last 512-byte sector of the disk that the file's first and last extent cover, from
// one FSCTL_GET_RETRIEVAL_POINTERS query into 4096 bytes (at most 255 extents). False, with
// both 0, when the file does not open, the query fails (a longer extent list included) or its
// answer gives no span on the volume (SectorRangeOfExtents; the last error is then
// ERROR_INVALID_DATA); the thread's last error tells why.
bool GetFileSectorRange(const std::string& Path, const TSectorGeometry& G, uint64_t& First, uint64_t& Last);
// The rule on a RETRIEVAL_POINTERS_BUFFER as the query filled it (Size bytes): the first sector
// of extent 0 and the last sector of the last extent. False, with both 0, for no extent, a count
// the buffer cannot hold, an extent with no cluster address (-1: a sparse file's hole, a
// compressed file's packed run) or one that does not advance, an extent that leaves the volume,
// or a last sector before the first: every sector written to a file map lies on the volume.
bool SectorRangeOfExtents(const uint8_t* Buffer, size_t Size, const TSectorGeometry& G, uint64_t& First,
                          uint64_t& Last);

// Every file under Folder (which ends in a delimiter), depth first in the order the file system
// lists them, hidden and system entries included; each subfolder is listed where it is met. A
// junction or symbolic link is listed as an entry of its own and never entered, so nothing
// outside the folder is reached. A folder that cannot be listed ends its part silently.
void CollectFilesRecursive(const std::string& Folder, std::vector<std::string>& List);

inline constexpr const char* kCreatedCsvHeader = "Index,FileName,StartSector,EndSector,WillDelete";
inline constexpr const char* kDeletedCsvHeader = "Index,FileName,StartSector,EndSector";
inline constexpr const char* kFileMapCsvHeader = "FileName,StartSector,EndSector,SizeBytes";
// Rows with their CR LF. A created row ends in "Y" for the files step 2 deletes (every tenth
// index: 9, 19, ...) and in a bare comma otherwise.
std::string CreatedCsvRow(int32_t Index, const std::string& Path, uint64_t First, uint64_t Last);
std::string DeletedCsvRow(int32_t Index, const std::string& Path, uint64_t First, uint64_t Last);
std::string FileMapCsvRow(const std::string& Path, uint64_t First, uint64_t Last, int64_t SizeBytes);

// ---- folder queries -----------------------------------------------------------------------------
bool FileExists(const std::string& Path);  // a file, not a folder
bool DirectoryExists(const std::string& Path);
// The entries FindFirstFileW / FindNextFileW list for Pattern, "." and ".." left out; empty when
// the listing fails.
std::vector<plat::FIND_DATA> FindEntries(const std::string& Pattern);
