#include "realtest/uFileMap.h"

#include <cctype>

#include "base/uByteOrder.h"
#include "core/uFormat.h"
#include "device/uDeviceHandle.h"
#include "engine/uVolumeBitmap.h"
#include "platform/Platform.h"
#include "platform/WinFsControl.h"

using namespace plat;

namespace {

constexpr DWORD kRetrievalBufferBytes = 4096;

char UpperLetter(char C) { return static_cast<char>(std::toupper(static_cast<unsigned char>(C))); }

}  // namespace

TSectorGeometry SectorGeometryOf(const TVolumeInfo& Volume) {
  TSectorGeometry g;
  g.PartStart = static_cast<uint64_t>(Volume.PartitionOffset) >> 9;
  g.SectorsPerCluster = Volume.ClusterBytes == 0 ? 8 : Volume.ClusterBytes / 512;
  g.HeapOffset = static_cast<uint64_t>(GetClusterHeapOffset(Volume.DriveLetter, Volume.FileSystem));
  g.PartSectors = Volume.PartitionLength > 0 ? static_cast<uint64_t>(Volume.PartitionLength) >> 9 : 0;
  return g;
}

const TVolumeInfo* VolumeOfPath(const TDiskInfo& Disk, const std::string& Path) {
  if (Path.size() < 2 || Path[1] != ':') return nullptr;
  for (const TVolumeInfo& v : Disk.Volumes)
    if (v.DriveLetter.size() >= 2 && v.DriveLetter[1] == ':' &&
        UpperLetter(v.DriveLetter[0]) == UpperLetter(Path[0]))
      return &v;
  return nullptr;
}

bool GetFileSectorRange(const std::string& Path, const TSectorGeometry& G, uint64_t& First, uint64_t& Last) {
  First = 0;
  Last = 0;
  TDeviceHandle h(
      Win().CreateFileW(Path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  if (!h.Valid()) return false;
  uint8_t in[fsc::kStartingVcnInputSize] = {};  // from VCN 0
  uint8_t out[kRetrievalBufferBytes] = {};
  DWORD returned = 0;
  if (!Win().DeviceIoControl(h.Get(), fsc::FSCTL_GET_RETRIEVAL_POINTERS, in, sizeof(in), out, sizeof(out),
                             &returned))
    return false;
  if (SectorRangeOfExtents(out, sizeof(out), G, First, Last)) return true;
  Win().SetLastError(ERROR_INVALID_DATA);  // the query succeeded; its answer is what failed
  return false;
}

bool SectorRangeOfExtents(const uint8_t* Buffer, size_t Size, const TSectorGeometry& G, uint64_t& First,
                          uint64_t& Last) {
  First = 0;
  Last = 0;
  TByteReader r(std::span<const uint8_t>(Buffer, Size));
  const uint64_t count = r.LE32(0);
  if (count == 0 || Size < fsc::kRetrievalHeaderSize ||
      count > (Size - fsc::kRetrievalHeaderSize) / fsc::kRetrievalExtentSize)
    return false;
  auto nextVcn = [&](uint64_t k) { return r.LE64(fsc::kRetrievalHeaderSize + 16 * k); };
  auto lcn = [&](uint64_t k) { return r.LE64(fsc::kRetrievalHeaderSize + 16 * k + 8); };
  if (G.SectorsPerCluster == 0 || G.PartSectors <= G.HeapOffset) return false;
  // The clusters the volume holds after its heap offset; a sparse hole or a packed run (LCN -1)
  // lies beyond them, and so does every address a wrapped sum would give.
  const uint64_t clusters = (G.PartSectors - G.HeapOffset) / G.SectorsPerCluster;
  uint64_t vcn = r.LE64(8);
  for (uint64_t k = 0; k < count; ++k) {
    const uint64_t next = nextVcn(k);
    if (next <= vcn) return false;  // an extent that does not advance
    const uint64_t length = next - vcn;
    if (lcn(k) >= clusters || length > clusters - lcn(k)) return false;
    vcn = next;
  }
  const uint64_t base = G.PartStart + G.HeapOffset;
  // Only the last extent gives the end; what lies between the first and the last is not looked at.
  const uint64_t k = count - 1;
  const uint64_t startVcn = k == 0 ? r.LE64(8) : nextVcn(k - 1);
  const uint64_t first = lcn(0) * G.SectorsPerCluster + base;
  const uint64_t last = base + G.SectorsPerCluster * (lcn(k) + (nextVcn(k) - startVcn)) - 1;
  // A file whose last extent lies before its first gives no span.
  if (last < first) return false;
  First = first;
  Last = last;
  return true;
}

void CollectFilesRecursive(const std::string& Folder, std::vector<std::string>& List) {
  for (const FIND_DATA& e : FindEntries(Folder + "*")) {
    const bool folder = (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = (e.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (folder && !link)
      CollectFilesRecursive(Folder + e.cFileName + "\\", List);
    else
      List.push_back(Folder + e.cFileName);
  }
}

std::string CreatedCsvRow(int32_t Index, const std::string& Path, uint64_t First, uint64_t Last) {
  const bool willDelete = (static_cast<int64_t>(Index) + 1) % 10 == 0;
  return FormatPlain("%d,%s,%u,%u,%s\r\n", Index, CsvField(Path), First, Last, willDelete ? "Y" : "");
}

std::string DeletedCsvRow(int32_t Index, const std::string& Path, uint64_t First, uint64_t Last) {
  return FormatPlain("%d,%s,%u,%u\r\n", Index, CsvField(Path), First, Last);
}

std::string FileMapCsvRow(const std::string& Path, uint64_t First, uint64_t Last, int64_t SizeBytes) {
  return FormatPlain("%s,%u,%u,%d\r\n", CsvField(Path), First, Last, SizeBytes);
}

bool FileExists(const std::string& Path) {
  const DWORD a = Win().GetFileAttributesW(Path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& Path) {
  const DWORD a = Win().GetFileAttributesW(Path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<FIND_DATA> FindEntries(const std::string& Pattern) {
  std::vector<FIND_DATA> r;
  FIND_DATA d;
  HANDLE f = Win().FindFirstFileW(Pattern, &d);
  if (!IsValidHandle(f)) return r;
  do {
    if (d.cFileName != "." && d.cFileName != "..") r.push_back(d);
  } while (Win().FindNextFileW(f, &d));
  Win().FindClose(f);
  return r;
}
