// Files on the simulated disks' volumes: data on the drive's sectors, allocation that keeps the
// volume bitmap, the free counts and the on-disk tables in agreement (judged by remounting the
// sectors and by the host's fsck), retrieval pointers, unbuffered I/O, the cache, locks and
// faults.
#include "platform/sim/files/SimVolumeFiles.h"

#include <gtest/gtest.h>

#include <numeric>

#include "HostTools.h"
#include "VolumeFilesTestUtil.h"
#include "base/uByteOrder.h"
#include "platform/WinFsControl.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;
using namespace volfiles;

namespace {

const char* KindName(SimFsKind k) {
  return k == SimFsKind::kFat32 ? "FAT32" : k == SimFsKind::kExFat ? "exFAT" : "NTFS";
}

class VolumeFilesTest : public ::testing::Test {
 protected:
  ScopedSimMachine m;
  std::shared_ptr<SimDisk> disk;

  // E: at 1 MiB of disk 1, formatted and mounted.
  void Volume(SimFsKind kind, uint32_t bps = 512, uint32_t cluster = 4096, uint64_t bytes = 96ull << 20) {
    disk = m->Storage().AddDisk(1, (bytes >> 9) + 4096);
    m->Bridge().SetLogicalBlockSize(1, bps);
    ASSERT_NE(m->VolumeFiles().AddVolume('E', 1, 1 << 20, bytes, kind, cluster), nullptr);
  }
  std::shared_ptr<SimFsState> State() { return FsState(m->Storage(), 'E'); }
  uint64_t UsedClusters() { return State()->clusters - State()->FreeClusters(); }
  uint64_t ClustersOf(const std::string& path) {
    uint64_t n = 0;
    for (const auto& [first, count] : m->VolumeFiles().Runs(path)) n += count;
    return n;
  }
  std::vector<std::string> List(const std::string& pattern) {
    std::vector<std::string> r;
    FIND_DATA d;
    HANDLE h = Win().FindFirstFileW(pattern, &d);
    if (!IsValidHandle(h)) return r;
    do r.push_back(d.cFileName);
    while (Win().FindNextFileW(h, &d));
    EXPECT_EQ(Win().GetLastError(), ERROR_NO_MORE_FILES);
    Win().FindClose(h);
    return r;
  }
  // Mounts the volume's sectors once more, as F:: what it finds is what the disk holds.
  std::shared_ptr<SimFsState> Remount() {
    auto v = m->Storage().Volume('E');
    m->Storage().AddVolume('F', v->extents);
    std::string why;
    EXPECT_TRUE(MountVolume(m->Storage(), 'F', &why)) << why;
    return FsState(m->Storage(), 'F');
  }
  // The host's checker on a dump of the volume, when it is installed.
  void Fsck(SimFsKind kind) {
    const char* tool = kind == SimFsKind::kFat32 ? "fsck.fat" : kind == SimFsKind::kExFat ? "fsck.exfat" : nullptr;
    if (!tool || !hosttools::OnPath(tool)) return;
    hosttools::TempFile image;
    ASSERT_TRUE(SaveImageFile(m->Storage(), 'E', image.path));
    std::string out;
    EXPECT_EQ(hosttools::Run(std::string(tool) + " -n " + image.path, &out), 0) << out;
  }
};

// On each file system: files written through the calls read back, list in the file system's
// order, and take exactly their clusters; the free counts, the bitmap and what the disk holds
// (the tables, the folders) agree after writes and after deletes, and the host's fsck agrees.
TEST_F(VolumeFilesTest, FilesWrittenReadListedAndDeletedOnEveryFileSystem) {
  struct File {
    const char* path;
    uint32_t seed;
    uint64_t size;
  };
  const File files[] = {{"E:\\t\\file_0.bin", 11, 3 << 20},
                        {"E:\\t\\file_10.bin", 12, 5000 * 512},
                        {"E:\\t\\file_1.bin", 13, 4096},
                        {"E:\\t\\empty.bin", 14, 0},
                        {"E:\\t\\A Long Mixed-Case Name.data", 15, 1 << 20},
                        {"E:\\t\\batch_1\\file_1000.bin", 16, (4 << 20) + 512}};
  for (SimFsKind kind : {SimFsKind::kFat32, SimFsKind::kExFat, SimFsKind::kNtfs}) {
    SCOPED_TRACE(KindName(kind));
    m->Storage().RemoveVolume('E');
    Volume(kind);
    const uint64_t used0 = UsedClusters();
    ASSERT_TRUE(Win().CreateDirectoryW("E:\\t"));
    ASSERT_TRUE(Win().CreateDirectoryW("E:\\t\\batch_1"));
    EXPECT_FALSE(Win().CreateDirectoryW("E:\\t"));
    EXPECT_EQ(Win().GetLastError(), ERROR_ALREADY_EXISTS);
    const uint64_t folders = UsedClusters() - used0;  // FAT32, exFAT: a cluster each; NTFS: none
    EXPECT_EQ(folders, kind == SimFsKind::kNtfs ? 0u : 2u);
    for (const File& f : files) ASSERT_EQ(WriteStreamFile(f.path, f.seed, f.size), 0u) << f.path;

    uint64_t clusters = 0;
    for (const File& f : files) {
      EXPECT_EQ(FileHash(f.path), ExpectedHash(f.seed, f.size)) << f.path;
      EXPECT_EQ(FileHash(f.path, 0), ExpectedHash(f.seed, f.size)) << f.path << " through the cache";
      EXPECT_EQ(ClustersOf(f.path), (f.size + 4095) / 4096) << f.path;
      clusters += ClustersOf(f.path);
    }
    EXPECT_EQ(UsedClusters(), used0 + folders + clusters);
    const std::vector<std::string> byName = {"file_0.bin", "file_1.bin", "file_10.bin"};
    const std::vector<std::string> byEntry = {"file_0.bin", "file_10.bin", "file_1.bin"};
    EXPECT_EQ(List("E:\\t\\file_*.bin"), kind == SimFsKind::kNtfs ? byName : byEntry);
    EXPECT_EQ(List("E:\\t\\batch_1\\*"), (std::vector<std::string>{".", "..", "file_1000.bin"}));

    // What the calls report follows the allocation.
    ULONGLONG freeToCaller = 0, total = 0, totalFree = 0;
    ASSERT_TRUE(Win().GetDiskFreeSpaceExW("E:\\t\\", &freeToCaller, &total, &totalFree));
    EXPECT_EQ(totalFree, State()->FreeClusters() * 4096);
    EXPECT_EQ(total, State()->clusters * 4096);
    DWORD spc = 0, bps = 0, freeClusters = 0, totalClusters = 0;
    ASSERT_TRUE(Win().GetDiskFreeSpaceW("E:\\", &spc, &bps, &freeClusters, &totalClusters));
    EXPECT_EQ(freeClusters, State()->FreeClusters());
    EXPECT_FALSE(Win().GetDiskFreeSpaceExW("E:\\nowhere\\", &freeToCaller, &total, &totalFree));
    EXPECT_EQ(Win().GetLastError(), ERROR_PATH_NOT_FOUND);

    // The disk holds the same: the bitmap, and for FAT32 and exFAT the folders with their files.
    EXPECT_EQ(Remount()->bitmap, State()->bitmap);
    if (kind != SimFsKind::kNtfs) {
      for (const File& f : files) {
        std::string again = f.path;
        again[0] = 'F';
        EXPECT_EQ(FileHash(again), ExpectedHash(f.seed, f.size)) << again;
      }
      EXPECT_EQ(List("F:\\t\\*").size(), 2u + 6u);
    }
    m->Storage().RemoveVolume('F');
    Fsck(kind);

    // Deleting gives the clusters back, on disk too.
    ASSERT_TRUE(Win().DeleteFileW("E:\\t\\file_10.bin"));
    ASSERT_TRUE(Win().DeleteFileW("E:\\t\\batch_1\\file_1000.bin"));
    EXPECT_FALSE(Win().DeleteFileW("E:\\t\\file_10.bin"));
    EXPECT_EQ(Win().GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(Win().RemoveDirectoryW("E:\\t"));
    EXPECT_EQ(Win().GetLastError(), ERROR_DIR_NOT_EMPTY);
    ASSERT_TRUE(Win().RemoveDirectoryW("E:\\t\\batch_1"));
    EXPECT_EQ(UsedClusters(), used0 + folders / 2 + clusters - 5000 * 512 / 4096 - 1025);
    EXPECT_EQ(Remount()->bitmap, State()->bitmap);
    if (kind != SimFsKind::kNtfs) {
      EXPECT_EQ(Win().GetFileAttributesW("F:\\t\\file_10.bin"), INVALID_FILE_ATTRIBUTES);
      EXPECT_EQ(Win().GetFileAttributesW("F:\\t\\batch_1"), INVALID_FILE_ATTRIBUTES);
      EXPECT_EQ(FileHash("F:\\t\\file_0.bin"), ExpectedHash(11, 3 << 20));
    }
    m->Storage().RemoveVolume('F');
    Fsck(kind);
  }
}

// Files written onto volumes that the host's mkfs made (its up-case table, its FSInfo, its
// layout) keep them valid for the host's fsck, and read back.
TEST_F(VolumeFilesTest, FilesOnVolumesTheHostsToolsMade) {
  struct Case {
    SimFsKind kind;
    const char* mkfs;
  };
  for (const Case& c :
       {Case{SimFsKind::kFat32, "mkfs.fat -F 32 -S 512 -s 8"}, Case{SimFsKind::kExFat, "mkfs.exfat"}}) {
    SCOPED_TRACE(KindName(c.kind));
    const std::string tool = std::string(c.mkfs).substr(0, std::string(c.mkfs).find(' '));
    if (!hosttools::OnPath(tool)) GTEST_SKIP() << tool << " not on PATH (dosfstools, exfatprogs)";
    hosttools::TempFile made;
    std::string out;
    ASSERT_EQ(hosttools::Run("truncate -s 96M " + made.path + " && " + c.mkfs + " " + made.path, &out), 0) << out;
    m->Storage().RemoveVolume('E');
    disk = m->Storage().AddDisk(1, (96 << 11) + 4096);
    ASSERT_TRUE(LoadImageFile(*disk, 2048, made.path));
    m->Storage().AddVolume('E', {{1, 1 << 20, 96 << 20}});
    std::string why;
    ASSERT_TRUE(MountVolume(m->Storage(), 'E', &why)) << why;
    ASSERT_TRUE(Win().CreateDirectoryW("E:\\trim_real_test"));
    for (uint32_t i = 0; i < 12; ++i)
      ASSERT_EQ(WriteStreamFile("E:\\trim_real_test\\file_" + std::to_string(i) + ".bin", i, (1 << 20) + i * 512),
                0u);
    for (uint32_t i = 0; i < 12; i += 3)
      ASSERT_TRUE(Win().DeleteFileW("E:\\trim_real_test\\file_" + std::to_string(i) + ".bin"));
    EXPECT_EQ(FileHash("E:\\trim_real_test\\file_11.bin"), ExpectedHash(11, (1 << 20) + 11 * 512));
    EXPECT_EQ(Remount()->bitmap, State()->bitmap);
    EXPECT_EQ(List("F:\\trim_real_test\\file_*").size(), 8u);
    m->Storage().RemoveVolume('F');
    Fsck(c.kind);
  }
}

// A folder of many entries grows past its first cluster, FAT32 short names stay apart (numeric
// tails), and after deletes the free entries are used again, in entry order.
TEST_F(VolumeFilesTest, FolderEntriesGrowAndAreReused) {
  for (SimFsKind kind : {SimFsKind::kFat32, SimFsKind::kExFat}) {
    SCOPED_TRACE(KindName(kind));
    m->Storage().RemoveVolume('E');
    Volume(kind, 512, 512);
    ASSERT_TRUE(Win().CreateDirectoryW("E:\\d"));
    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i) {
      names.push_back("file_" + std::to_string(1000 + i) + ".bin");
      ASSERT_TRUE(m->VolumeFiles().WriteAll("E:\\d\\" + names.back(), names.back()));
    }
    ASSERT_TRUE(Win().DeleteFileW("E:\\d\\file_1003.bin"));
    ASSERT_TRUE(m->VolumeFiles().WriteAll("E:\\d\\new.bin", "new"));
    names.erase(names.begin() + 3);
    names.insert(names.begin() + 3, "new.bin");  // in the slots the deleted file left
    names.insert(names.begin(), {".", ".."});
    EXPECT_EQ(List("E:\\d\\*"), names);
    Remount();
    EXPECT_EQ(List("F:\\d\\*"), names);
    EXPECT_EQ(m->VolumeFiles().ReadAll("F:\\d\\file_1059.bin"), "file_1059.bin");
    m->Storage().RemoveVolume('F');
    Fsck(kind);
  }
}

// The file's runs through FSCTL_GET_RETRIEVAL_POINTERS on a handle with no access, numbered as
// the volume bitmap numbers them: the LCN's sectors on the disk hold the file's bytes.
TEST_F(VolumeFilesTest, RetrievalPointersOfAFragmentedFile) {
  for (SimFsKind kind : {SimFsKind::kFat32, SimFsKind::kExFat, SimFsKind::kNtfs}) {
    SCOPED_TRACE(KindName(kind));
    m->Storage().RemoveVolume('E');
    Volume(kind);
    m->VolumeFiles().SetAllocation('E', 4, 1);
    ASSERT_EQ(WriteStreamFile("E:\\frag.bin", 7, 20 * 4096), 0u);
    ASSERT_EQ(WriteStreamFile("E:\\empty.bin", 8, 0), 0u);
    const SimClusterRuns runs = m->VolumeFiles().Runs("E:\\frag.bin");
    ASSERT_EQ(runs.size(), 5u);

    HANDLE h = Win().CreateFileW("E:\\frag.bin", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    ASSERT_TRUE(IsValidHandle(h));
    uint8_t in[8] = {};
    std::vector<uint8_t> out(4096, 0);
    DWORD n = 0;
    ASSERT_TRUE(Win().DeviceIoControl(h, fsc::FSCTL_GET_RETRIEVAL_POINTERS, in, 8, out.data(), 4096, &n));
    TByteReader r(out);
    ASSERT_EQ(r.LE32(0), 5u);
    EXPECT_EQ(n, 16u + 5 * 16);
    EXPECT_EQ(r.LE64(8), 0u);
    uint64_t vcn = 0;
    AlignedBuffer sector(512);
    uint32_t state = 7;
    std::vector<uint8_t> expected(20 * 4096);
    Fill(expected.data(), expected.size(), state);
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(r.LE64(16 + i * 16 + 8), runs[i].first);
      vcn += runs[i].second;
      EXPECT_EQ(r.LE64(16 + i * 16), vcn);
      // The first sector of the extent, read from the disk where the LCN says it is.
      const uint64_t lba = 2048 + State()->heapOffset + runs[i].first * 8;
      ASSERT_TRUE(disk->drive.Read(lba, 1, sector.data));
      EXPECT_EQ(0, std::memcmp(sector.data, &expected[(vcn - runs[i].second) * 4096], 512)) << "extent " << i;
    }
    // Room for two extents: those two and "more data".
    EXPECT_FALSE(Win().DeviceIoControl(h, fsc::FSCTL_GET_RETRIEVAL_POINTERS, in, 8, out.data(), 48, &n));
    EXPECT_EQ(Win().GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(n, 48u);
    EXPECT_EQ(r.LE32(0), 2u);
    // From VCN 9: the extent that holds it on.
    in[0] = 9;
    ASSERT_TRUE(Win().DeviceIoControl(h, fsc::FSCTL_GET_RETRIEVAL_POINTERS, in, 8, out.data(), 4096, &n));
    EXPECT_EQ(r.LE32(0), 3u);
    EXPECT_EQ(r.LE64(8), 8u);
    in[0] = 20;
    EXPECT_FALSE(Win().DeviceIoControl(h, fsc::FSCTL_GET_RETRIEVAL_POINTERS, in, 8, out.data(), 4096, &n));
    EXPECT_EQ(Win().GetLastError(), ERROR_HANDLE_EOF);
    EXPECT_FALSE(Win().DeviceIoControl(h, fsc::FSCTL_GET_RETRIEVAL_POINTERS, in, 8, out.data(), 16, &n));
    EXPECT_EQ(Win().GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    Win().CloseHandle(h);

    h = Win().CreateFileW("E:\\empty.bin", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    in[0] = 0;
    ASSERT_TRUE(Win().DeviceIoControl(h, fsc::FSCTL_GET_RETRIEVAL_POINTERS, in, 8, out.data(), 4096, &n));
    EXPECT_EQ(r.LE32(0), 0u);
    Win().CloseHandle(h);
    EXPECT_EQ(FileHash("E:\\frag.bin"), ExpectedHash(7, 20 * 4096));
    Fsck(kind);
  }
}

// Unbuffered I/O in whole sectors of the volume from sector-aligned buffers, as Windows asks.
TEST_F(VolumeFilesTest, UnbufferedIoIsInWholeSectorsOfTheVolume) {
  Volume(SimFsKind::kExFat, 4096, 4096);
  AlignedBuffer b(3 * 4096 + 512);
  HANDLE h = Win().CreateFileW("E:\\f.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS,
                               FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH);
  ASSERT_TRUE(IsValidHandle(h));
  struct Case {
    const char* what;
    size_t bufferAt;
    DWORD length;
    ULONGLONG offset;
  };
  const Case bad[] = {{"offset", 0, 4096, 512}, {"length", 0, 512, 0}, {"buffer", 512, 4096, 0}};
  DWORD n = 0;
  for (const Case& c : bad) {
    EXPECT_FALSE(Win().WriteFileAt(h, b.data + c.bufferAt, c.length, &n, c.offset)) << c.what;
    EXPECT_EQ(Win().GetLastError(), ERROR_INVALID_PARAMETER) << c.what;
    EXPECT_FALSE(Win().ReadFileAt(h, b.data + c.bufferAt, c.length, &n, c.offset)) << c.what;
    EXPECT_EQ(Win().GetLastError(), ERROR_INVALID_PARAMETER) << c.what;
  }
  std::memset(b.data, 0x5A, b.size);
  ASSERT_TRUE(Win().WriteFileAt(h, b.data, 2 * 4096, &n, 4096));
  LONGLONG size = 0;
  ASSERT_TRUE(Win().GetFileSizeEx(h, &size));
  EXPECT_EQ(size, 3 * 4096);
  // The gap before the write reads as zeros; a read past the end gives what there is.
  ASSERT_TRUE(Win().ReadFileAt(h, b.data, 3 * 4096, &n, 0));
  EXPECT_EQ(n, 3u * 4096);
  EXPECT_EQ(b.data[0], 0);
  EXPECT_EQ(b.data[4096], 0x5A);
  ASSERT_TRUE(Win().ReadFileAt(h, b.data, 2 * 4096, &n, 2 * 4096));
  EXPECT_EQ(n, 4096u);
  DWORD high = 1;
  EXPECT_EQ(Win().GetFileSize(h, &high), 3u * 4096);
  EXPECT_EQ(high, 0u);
  Win().CloseHandle(h);

  // Without the flag any offset and length do.
  h = Win().CreateFileW("E:\\f.bin", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
  EXPECT_TRUE(Win().WriteFileAt(h, b.data + 1, 3, &n, 4097));
  EXPECT_TRUE(Win().ReadFileAt(h, b.data + 1, 10, &n, 4095));
  EXPECT_EQ(n, 10u);
  Win().CloseHandle(h);
}

// Without FILE_FLAG_NO_BUFFERING the cache answers: a read it holds does not reach the drive,
// so it does not see a TRIM of the file's clusters either; an unbuffered read does, and a
// dismount empties the cache. A TRIM of the free space leaves every file whole.
TEST_F(VolumeFilesTest, TheCacheServesReadsAndATrimOfUsedClustersBreaksAFile) {
  Volume(SimFsKind::kNtfs);
  ASSERT_EQ(WriteStreamFile("E:\\a.bin", 1, 2 << 20, 0), 0u);  // buffered: into the cache too
  ASSERT_EQ(WriteStreamFile("E:\\b.bin", 2, 2 << 20), 0u);
  ASSERT_EQ(WriteStreamFile("E:\\gone.bin", 3, 1 << 20), 0u);
  ASSERT_TRUE(Win().DeleteFileW("E:\\gone.bin"));
  EXPECT_GE(m->VolumeFiles().CacheBytes('E'), 2u << 20);

  const SimDriveStats before = disk->drive.Stats();
  EXPECT_EQ(FileHash("E:\\a.bin", 0), ExpectedHash(1, 2 << 20));
  EXPECT_EQ(disk->drive.Stats().reads, before.reads);

  // The free space released: every file as it was.
  for (const auto& [lba, count] : FreeDiskRanges(m->Storage(), 'E'))
    ASSERT_TRUE(disk->drive.Trim(lba, count, "TEST"));
  EXPECT_EQ(FileHash("E:\\a.bin"), ExpectedHash(1, 2 << 20));
  EXPECT_EQ(FileHash("E:\\b.bin"), ExpectedHash(2, 2 << 20));

  // One cluster of a.bin released: the drive reads it as zeros; the cache still has it.
  const SimClusterRuns runs = m->VolumeFiles().Runs("E:\\a.bin");
  ASSERT_TRUE(disk->drive.Trim(2048 + (runs[0].first + 3) * 8, 8, "TEST"));
  EXPECT_NE(FileHash("E:\\a.bin"), ExpectedHash(1, 2 << 20));
  EXPECT_EQ(FileHash("E:\\a.bin", 0), ExpectedHash(1, 2 << 20));
  EXPECT_EQ(FileHash("E:\\b.bin"), ExpectedHash(2, 2 << 20));

  // Locked and dismounted: the cache is gone, and the buffered read sees the drive.
  HANDLE v = Win().CreateFileW("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  DWORD n = 0;
  ASSERT_TRUE(Win().DeviceIoControl(v, fsc::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &n));
  ASSERT_TRUE(Win().DeviceIoControl(v, fsc::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &n));
  Win().CloseHandle(v);
  EXPECT_EQ(m->VolumeFiles().CacheBytes('E'), 0u);
  EXPECT_NE(FileHash("E:\\a.bin", 0), ExpectedHash(1, 2 << 20));
}

// Windows refuses to lock or dismount a volume while a file or a listing of it is open.
TEST_F(VolumeFilesTest, LockAndDismountWaitForTheLastOpenFile) {
  Volume(SimFsKind::kExFat);
  ASSERT_TRUE(m->VolumeFiles().WriteAll("E:\\d\\f.txt", "x"));
  HANDLE f = Win().CreateFileW("E:\\d\\f.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
  FIND_DATA d;
  HANDLE l = Win().FindFirstFileW("E:\\d\\*", &d);
  ASSERT_TRUE(IsValidHandle(f));
  ASSERT_TRUE(IsValidHandle(l));
  HANDLE v = Win().CreateFileW("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  DWORD n = 0;
  for (HANDLE open : {f, l}) {
    for (DWORD code : {fsc::FSCTL_LOCK_VOLUME, fsc::FSCTL_DISMOUNT_VOLUME}) {
      EXPECT_FALSE(Win().DeviceIoControl(v, code, nullptr, 0, nullptr, 0, &n));
      EXPECT_EQ(Win().GetLastError(), ERROR_ACCESS_DENIED);
    }
    if (open == f)
      Win().CloseHandle(f);
    else
      Win().FindClose(l);
  }
  EXPECT_EQ(m->VolumeFiles().OpenHandles('E'), 0);
  EXPECT_TRUE(Win().DeviceIoControl(v, fsc::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &n));
  EXPECT_TRUE(Win().DeviceIoControl(v, fsc::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &n));
  Win().CloseHandle(v);
  EXPECT_EQ(m->VolumeFiles().ReadAll("E:\\d\\f.txt"), "x");  // mounted again on its next use
}

// Share modes between opens, and a deleted file whose clusters stay until its last handle goes.
TEST_F(VolumeFilesTest, ShareModesAndADeletedFileThatIsStillOpen) {
  Volume(SimFsKind::kFat32);
  ASSERT_EQ(WriteStreamFile("E:\\f.bin", 5, 1 << 20), 0u);
  HANDLE r = Win().CreateFileW("E:\\f.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
  ASSERT_TRUE(IsValidHandle(r));
  EXPECT_FALSE(IsValidHandle(Win().CreateFileW("E:\\f.bin", GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, 0)));
  EXPECT_EQ(Win().GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(Win().DeleteFileW("E:\\f.bin"));
  EXPECT_EQ(Win().GetLastError(), ERROR_SHARING_VIOLATION);
  Win().CloseHandle(r);

  const uint64_t used = UsedClusters();
  r = Win().CreateFileW("E:\\f.bin", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING, 0);
  ASSERT_TRUE(Win().DeleteFileW("E:\\f.bin"));
  EXPECT_FALSE(m->VolumeFiles().Exists("E:\\f.bin"));
  EXPECT_EQ(UsedClusters(), used);
  AlignedBuffer b(4096);
  DWORD n = 0;
  EXPECT_TRUE(Win().ReadFile(r, b.data, 4096, &n));
  EXPECT_EQ(n, 4096u);
  Win().CloseHandle(r);
  EXPECT_EQ(UsedClusters(), used - 256);
  Fsck(SimFsKind::kFat32);
}

// The volume full at a chosen byte: when the clusters run out (nothing of the failing write is
// kept, and the free count says 0), and by a fault at a byte of the file.
TEST_F(VolumeFilesTest, AVolumeFullAtAChosenByte) {
  Volume(SimFsKind::kExFat, 512, 4096, 16ull << 20);
  const uint64_t free = State()->FreeClusters() * 4096;
  const uint64_t fits = free / (1 << 20) * (1 << 20);
  EXPECT_EQ(WriteStreamFile("E:\\fill.bin", 9, fits + (4 << 20)), ERROR_DISK_FULL);
  HANDLE h = Win().CreateFileW("E:\\fill.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
  LONGLONG size = 0;
  ASSERT_TRUE(Win().GetFileSizeEx(h, &size));
  Win().CloseHandle(h);
  EXPECT_EQ(static_cast<uint64_t>(size) % (4 << 20), 0u);  // whole blocks only
  EXPECT_LE(static_cast<uint64_t>(size), free);
  ASSERT_TRUE(Win().DeleteFileW("E:\\fill.bin"));
  EXPECT_EQ(State()->FreeClusters() * 4096, free);

  SimVolumeFileFault full;
  full.writeError = ERROR_DISK_FULL;
  full.writeAtByte = 6 << 20;
  m->VolumeFiles().SetFault("E:\\dir", full);
  ASSERT_TRUE(Win().CreateDirectoryW("E:\\dir"));
  EXPECT_EQ(WriteStreamFile("E:\\dir\\a.bin", 1, 8 << 20), ERROR_DISK_FULL);
  EXPECT_EQ(m->VolumeFiles().ReadAll("E:\\dir\\a.bin").size(), 4u << 20);
  EXPECT_EQ(WriteStreamFile("E:\\dir\\b.bin", 1, 6 << 20), 0u);
  Fsck(SimFsKind::kExFat);
}

// Faults on calls below a path: creation, reading at a byte, deleting, a listing that stops;
// and a junction, which paths go through but removing does not.
TEST_F(VolumeFilesTest, FaultsAndJunctions) {
  Volume(SimFsKind::kNtfs);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(m->VolumeFiles().WriteAll("E:\\t\\f" + std::to_string(i), "data"));
  SimVolumeFileFault open;
  open.openError = ERROR_ACCESS_DENIED;
  open.count = 1;
  m->VolumeFiles().SetFault("E:\\t\\f0", open);
  EXPECT_FALSE(IsValidHandle(Win().CreateFileW("E:\\t\\f0", GENERIC_READ, 1, OPEN_EXISTING, 0)));
  EXPECT_EQ(Win().GetLastError(), ERROR_ACCESS_DENIED);
  HANDLE h = Win().CreateFileW("E:\\t\\f0", GENERIC_READ, 1, OPEN_EXISTING, 0);
  EXPECT_TRUE(IsValidHandle(h));  // once only
  SimVolumeFileFault read;
  read.readError = ERROR_CRC;
  read.readAtByte = 2;
  m->VolumeFiles().SetFault("E:\\t\\f0", read);
  char buf[8];
  DWORD n = 0;
  EXPECT_TRUE(Win().ReadFileAt(h, buf, 2, &n, 0));
  EXPECT_FALSE(Win().ReadFileAt(h, buf, 3, &n, 0));
  EXPECT_EQ(Win().GetLastError(), ERROR_CRC);
  Win().CloseHandle(h);

  SimVolumeFileFault del;
  del.deleteError = ERROR_ACCESS_DENIED;
  m->VolumeFiles().SetFault("E:\\t\\f1", del);
  EXPECT_FALSE(Win().DeleteFileW("E:\\t\\f1"));
  SimVolumeFileFault list;
  list.listStopAfter = 3;
  list.listError = ERROR_IO_DEVICE;
  m->VolumeFiles().SetFault("E:\\t", list);
  FIND_DATA d;
  h = Win().FindFirstFileW("E:\\t\\*", &d);
  int given = 1;
  while (Win().FindNextFileW(h, &d)) ++given;
  EXPECT_EQ(given, 3);
  EXPECT_EQ(Win().GetLastError(), ERROR_IO_DEVICE);
  Win().FindClose(h);
  m->VolumeFiles().ClearFaults();

  ASSERT_TRUE(m->VolumeFiles().AddJunction("E:\\link", "E:\\t"));
  EXPECT_EQ(Win().GetFileAttributesW("E:\\link"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  h = Win().FindFirstFileW("E:\\*", &d);
  bool sawLink = false;
  do sawLink |= d.cFileName == "link" && (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  while (Win().FindNextFileW(h, &d));
  Win().FindClose(h);
  EXPECT_TRUE(sawLink);
  EXPECT_EQ(m->VolumeFiles().ReadAll("E:\\link\\f3"), "data");
  EXPECT_EQ(List("E:\\link\\f*").size(), 5u);
  ASSERT_TRUE(Win().RemoveDirectoryW("E:\\link"));
  EXPECT_EQ(List("E:\\t\\f*").size(), 5u);
}

// Transfers take the drive's time on the virtual clock.
TEST_F(VolumeFilesTest, FileTransfersTakeTheDrivesTime) {
  Volume(SimFsKind::kNtfs);
  disk->drive.SetSpeed(SimDriveSpeed::NeverSlows(400, 500));
  uint64_t t0 = Win().GetTickCount64();
  ASSERT_EQ(WriteStreamFile("E:\\f.bin", 1, 40 << 20), 0u);
  EXPECT_NEAR(double(Win().GetTickCount64() - t0), 100.0, 1.0);
  t0 = Win().GetTickCount64();
  EXPECT_EQ(FileHash("E:\\f.bin"), ExpectedHash(1, 40 << 20));
  EXPECT_NEAR(double(Win().GetTickCount64() - t0), 80.0, 1.0);
}

}  // namespace

namespace {

// A listing that fails (no such folder, no match) gives no handle and leaves nothing open.
TEST_F(VolumeFilesTest, AFailedListingLeavesNothingOpen) {
  Volume(SimFsKind::kNtfs);
  ASSERT_TRUE(m->VolumeFiles().WriteAll("E:\\dir\\a.bin", "x"));
  FIND_DATA d;
  EXPECT_FALSE(IsValidHandle(Win().FindFirstFileW("E:\\missing\\*.bin", &d)));
  EXPECT_EQ(Win().GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(IsValidHandle(Win().FindFirstFileW("E:\\dir\\*.txt", &d)));
  EXPECT_EQ(Win().GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(m->VolumeFiles().OpenHandles('E'), 0);
}

}  // namespace
