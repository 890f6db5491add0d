#include "platform/sim/files/SimVolumeFormat.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "base/uByteOrder.h"

namespace plat::sim {

namespace {

using Place = SimVolumePlace;

bool Locate(SimStorage& storage, char letter, Place& p) { return LocateVolume(storage, letter, &p); }
bool ReadBytes(const Place& p, uint64_t offset, size_t n, std::vector<uint8_t>& out) {
  return ReadVolumeBytes(p, offset, n, out);
}
bool WriteBytes(const Place& p, uint64_t offset, const std::vector<uint8_t>& data) {
  return WriteVolumeBytes(p, offset, data);
}

void SetBit(std::vector<uint8_t>& bm, uint64_t c, bool used) {
  if (used)
    bm[c >> 3] = static_cast<uint8_t>(bm[c >> 3] | (1u << (c & 7)));
  else
    bm[c >> 3] = static_cast<uint8_t>(bm[c >> 3] & ~(1u << (c & 7)));
}

void Publish(SimVolume& v, const SimFsState& s) {
  std::lock_guard<std::mutex> lk(v.mu);
  v.fileSystemName = s.kind == SimFsKind::kFat32 ? "FAT32" : s.kind == SimFsKind::kExFat ? "exFAT" : "NTFS";
  v.bytesPerSector = s.bytesPerSector;
  v.sectorsPerCluster = s.sectorsPerCluster;
  v.totalClusters = s.clusters;
  v.freeClusters = s.FreeClusters();
}

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// Writes FAT entries from cluster `first` (bitmap numbering) on, in every table.
bool WriteFatEntries(const Place& p, const SimFsState& s, uint64_t first, const std::vector<uint32_t>& values) {
  std::vector<uint8_t> bytes(values.size() * 4);
  TByteWriter w(bytes);
  for (size_t i = 0; i < values.size(); ++i) w.LE32(i * 4, values[i]);
  for (uint32_t t = 0; t < s.fatCount; ++t) {
    const uint64_t at = (s.fatOffset + t * s.fatSectors) * s.bytesPerSector + (first + 2) * 4;
    if (!WriteBytes(p, at, bytes)) return false;
  }
  return true;
}

uint32_t EndOfChain(const SimFsState& s) { return s.kind == SimFsKind::kFat32 ? 0x0FFFFFFF : 0xFFFFFFFF; }

// Bytes [lo, hi) of the bitmap, where the file system keeps it: exFAT's bitmap file, NTFS's
// $Bitmap (its runs in order).
bool WriteBitmapBytes(const Place& p, const SimFsState& s, uint64_t lo, uint64_t hi) {
  if (lo >= hi) return true;
  if (s.kind == SimFsKind::kExFat) {
    const uint64_t at = s.heapOffset * s.bytesPerSector + uint64_t(s.exfatBitmapCluster - 2) * s.ClusterBytes();
    return WriteBytes(p, at + lo, std::vector<uint8_t>(s.bitmap.begin() + lo, s.bitmap.begin() + hi));
  }
  if (s.kind != SimFsKind::kNtfs) return true;
  uint64_t base = 0;  // byte of $Bitmap where this run starts
  for (auto [lcn, count] : s.ntfsBitmapRuns) {
    const uint64_t len = count * s.ClusterBytes();
    const uint64_t from = std::max(lo, base), to = std::min(hi, base + len);
    if (from < to && !WriteBytes(p, lcn * s.ClusterBytes() + (from - base),
                                 std::vector<uint8_t>(s.bitmap.begin() + from, s.bitmap.begin() + to)))
      return false;
    base += len;
  }
  return true;
}

// FAT32's FSInfo sector and its copy: the free count and where to look for a free cluster.
constexpr uint64_t kFsInfoSector = 1;
constexpr uint64_t kBackupBootSector = 6;

bool WriteFsInfo(const Place& p, const SimFsState& s) {
  std::vector<uint8_t> info(512, 0);
  TByteWriter w(info);
  w.LE32(0, 0x41615252);
  w.LE32(484, 0x61417272);
  w.LE32(488, static_cast<uint32_t>(s.FreeClusters()));
  w.LE32(492, 0xFFFFFFFF);  // no hint
  w.LE32(508, 0xAA550000);
  return WriteBytes(p, kFsInfoSector * s.bytesPerSector, info) &&
         WriteBytes(p, (kBackupBootSector + kFsInfoSector) * s.bytesPerSector, info);
}

// exFAT's checksum: rotate right by one, add the byte.
uint32_t Rotate32(uint32_t sum, uint8_t b) { return ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + b; }

bool FormatFat32(const Place& p, SimFsState& s) {
  const uint64_t total = s.volumeSectors;
  s.fatOffset = 32;
  s.fatCount = 2;
  // The smallest table that holds an entry for every cluster left beside it.
  uint64_t fat = 1;
  while (fat * s.bytesPerSector < ((total - s.fatOffset - 2 * fat) / s.sectorsPerCluster + 2) * 4) ++fat;
  s.fatSectors = fat;
  s.heapOffset = s.fatOffset + 2 * fat;
  if (total <= s.heapOffset + s.sectorsPerCluster) return false;
  s.clusters = (total - s.heapOffset) / s.sectorsPerCluster;
  s.rootCluster = 2;
  std::vector<uint8_t> boot(s.bytesPerSector, 0);
  TByteWriter w(boot);
  w.Bytes(0, std::vector<uint8_t>{0xEB, 0x58, 0x90, 'M', 'S', 'W', 'I', 'N', '4', '.', '1'});
  w.LE16(11, static_cast<uint16_t>(s.bytesPerSector));
  w.U8(13, static_cast<uint8_t>(s.sectorsPerCluster));
  w.LE16(14, static_cast<uint16_t>(s.fatOffset));
  w.U8(16, 2);
  w.U8(21, 0xF8);
  w.LE16(24, 63);  // sectors per track and heads, as Windows writes them
  w.LE16(26, 255);
  w.LE32(28, static_cast<uint32_t>(p.firstLba * 512 / s.bytesPerSector));  // hidden sectors
  w.LE32(32, static_cast<uint32_t>(total));
  w.LE32(36, static_cast<uint32_t>(fat));
  w.LE32(44, s.rootCluster);
  w.LE16(48, static_cast<uint16_t>(kFsInfoSector));
  w.LE16(50, static_cast<uint16_t>(kBackupBootSector));
  w.U8(64, 0x80);
  w.U8(66, 0x29);
  w.LE32(67, static_cast<uint32_t>(0x5EED0000u ^ p.firstLba));
  w.Bytes(71, std::vector<uint8_t>{'N', 'O', ' ', 'N', 'A', 'M', 'E', ' ', ' ', ' ', ' '});
  w.Bytes(82, std::vector<uint8_t>{'F', 'A', 'T', '3', '2', ' ', ' ', ' '});
  w.U8(510, 0x55);
  w.U8(511, 0xAA);
  if (!WriteBytes(p, 0, boot) || !WriteBytes(p, kBackupBootSector * s.bytesPerSector, boot)) return false;
  s.bitmap.assign(CeilDiv(s.clusters, 8), 0);
  // Entries 0 and 1 are reserved; cluster 2 (bitmap 0) holds the root directory.
  std::vector<uint8_t> head(12);
  TByteWriter h(head);
  h.LE32(0, 0x0FFFFFF8);
  h.LE32(4, 0x0FFFFFFF);
  h.LE32(8, 0x0FFFFFFF);
  // Whole tables are cleared, and the root directory: whatever the sectors held before is gone.
  if (!ZeroVolumeBytes(p, s.fatOffset * s.bytesPerSector, 2 * fat * s.bytesPerSector) ||
      !ZeroVolumeBytes(p, s.heapOffset * s.bytesPerSector, s.ClusterBytes()))
    return false;
  for (uint32_t t = 0; t < 2; ++t)
    if (!WriteBytes(p, (s.fatOffset + t * fat) * s.bytesPerSector, head)) return false;
  SetBit(s.bitmap, 0, true);
  return WriteFsInfo(p, s);
}

// The up-case table the formatter writes: ASCII letters, every other character maps to itself.
std::vector<uint16_t> AsciiUpcase() {
  std::vector<uint16_t> t(128);
  for (uint16_t c = 0; c < 128; ++c) t[c] = c >= 'a' && c <= 'z' ? static_cast<uint16_t>(c - 32) : c;
  return t;
}

bool FormatExFat(const Place& p, SimFsState& s) {
  const uint64_t total = s.volumeSectors;
  const uint32_t bps = s.bytesPerSector;
  s.fatOffset = 24;
  s.fatCount = 1;
  uint64_t fat = 1;
  auto heapFor = [&](uint64_t f) { return CeilDiv(s.fatOffset + f, s.sectorsPerCluster) * s.sectorsPerCluster; };
  while (fat * bps < ((total - heapFor(fat)) / s.sectorsPerCluster + 2) * 4) ++fat;
  s.fatSectors = fat;
  s.heapOffset = heapFor(fat);
  if (total <= s.heapOffset + 4 * s.sectorsPerCluster) return false;
  s.clusters = (total - s.heapOffset) / s.sectorsPerCluster;
  s.bitmap.assign(CeilDiv(s.clusters, 8), 0);
  // Cluster 2 on: the allocation bitmap, then the up-case table and the root directory.
  const uint64_t bitmapClusters = CeilDiv(s.bitmap.size(), s.ClusterBytes());
  s.exfatBitmapCluster = 2;
  const uint32_t upcase = static_cast<uint32_t>(2 + bitmapClusters);
  const uint32_t root = upcase + 1;
  s.rootCluster = root;
  for (uint64_t c = 0; c < bitmapClusters + 2; ++c) SetBit(s.bitmap, c, true);

  // The boot region: boot sector, eight extended boot sectors, OEM parameters, a reserved
  // sector and the checksum sector; then its backup.
  std::vector<uint8_t> region(12 * size_t(bps), 0);
  TByteWriter w(region);
  w.Bytes(0, std::vector<uint8_t>{0xEB, 0x76, 0x90, 'E', 'X', 'F', 'A', 'T', ' ', ' ', ' '});
  w.LE64(64, p.firstLba * 512 / bps);
  w.LE64(72, total);
  w.LE32(80, static_cast<uint32_t>(s.fatOffset));
  w.LE32(84, static_cast<uint32_t>(fat));
  w.LE32(88, static_cast<uint32_t>(s.heapOffset));
  w.LE32(92, static_cast<uint32_t>(s.clusters));
  w.LE32(96, root);
  w.LE32(100, static_cast<uint32_t>(0x5EED0000u ^ p.firstLba));
  w.LE16(104, 0x0100);
  w.U8(108, static_cast<uint8_t>(std::countr_zero(bps)));
  w.U8(109, static_cast<uint8_t>(std::countr_zero(s.sectorsPerCluster)));
  w.U8(110, 1);
  w.U8(111, 0x80);
  w.U8(112, 0xFF);  // percent in use: not kept
  w.U8(510, 0x55);
  w.U8(511, 0xAA);
  for (uint32_t k = 1; k <= 8; ++k) w.LE32(size_t(k + 1) * bps - 4, 0xAA550000);
  uint32_t sum = 0;
  for (size_t i = 0; i < 11 * size_t(bps); ++i)
    if (i != 106 && i != 107 && i != 112) sum = Rotate32(sum, region[i]);
  for (size_t i = 11 * size_t(bps); i < 12 * size_t(bps); i += 4) w.LE32(i, sum);
  if (!WriteBytes(p, 0, region) || !WriteBytes(p, 12 * uint64_t(bps), region)) return false;

  if (!ZeroVolumeBytes(p, s.fatOffset * bps, fat * bps)) return false;
  // The up-case table, and the root directory with the bitmap (0x81) and up-case (0x82) entries.
  s.upcase = AsciiUpcase();
  std::vector<uint8_t> table(s.upcase.size() * 2);
  TByteWriter t(table);
  for (size_t i = 0; i < s.upcase.size(); ++i) t.LE16(i * 2, s.upcase[i]);
  uint32_t tableSum = 0;
  for (uint8_t b : table) tableSum = Rotate32(tableSum, b);
  const uint64_t heap = s.heapOffset * bps;
  if (!WriteBytes(p, heap + uint64_t(upcase - 2) * s.ClusterBytes(), table)) return false;
  std::vector<uint8_t> dir(s.ClusterBytes(), 0);
  TByteWriter d(dir);
  d.U8(0, 0x81);
  d.LE32(20, s.exfatBitmapCluster);
  d.LE64(24, s.bitmap.size());
  d.U8(32, 0x82);
  d.LE32(36, tableSum);
  d.LE32(52, upcase);
  d.LE64(56, table.size());
  if (!WriteBytes(p, heap + uint64_t(root - 2) * s.ClusterBytes(), dir)) return false;
  // FAT: media and reserved entries, then one chain per system file.
  std::vector<uint32_t> entries(root + 1, 0);
  entries[0] = 0xFFFFFFF8;
  entries[1] = 0xFFFFFFFF;
  for (uint32_t c = 2; c < upcase; ++c) entries[c] = c + 1 == upcase ? 0xFFFFFFFF : c + 1;
  entries[upcase] = 0xFFFFFFFF;
  entries[root] = 0xFFFFFFFF;
  std::vector<uint8_t> fatBytes(entries.size() * 4);
  TByteWriter f(fatBytes);
  for (size_t i = 0; i < entries.size(); ++i) f.LE32(i * 4, entries[i]);
  if (!WriteBytes(p, s.fatOffset * bps, fatBytes)) return false;
  return WriteBitmapBytes(p, s, 0, s.bitmap.size());
}

// MFT record 6, $Bitmap: a FILE record whose unnamed $DATA attribute is non-resident in one run.
std::vector<uint8_t> BitmapRecord(uint64_t recordBytes, uint64_t lcn, uint64_t clusters, uint64_t dataBytes,
                                  uint64_t clusterBytes) {
  std::vector<uint8_t> rec(recordBytes, 0);
  TByteWriter w(rec);
  const uint16_t usaCount = static_cast<uint16_t>(1 + recordBytes / 512);
  w.LE32(0, 0x454C4946);  // "FILE"
  w.LE16(4, 48);
  w.LE16(6, usaCount);
  w.LE16(16, 1);  // sequence
  w.LE16(18, 1);  // links
  w.LE16(20, 56);
  w.LE16(22, 1);  // in use
  w.LE32(28, static_cast<uint32_t>(recordBytes));
  w.LE32(44, 6);
  const size_t a = 56;
  w.LE32(a, 0x80);
  w.LE32(a + 4, 88);
  w.U8(a + 8, 1);  // non-resident
  w.LE16(a + 10, 64);
  w.LE64(a + 24, clusters - 1);
  w.LE16(a + 32, 64);
  w.LE64(a + 40, clusters * clusterBytes);
  w.LE64(a + 48, dataBytes);
  w.LE64(a + 56, dataBytes);
  // One run: 8-byte length and offset fields.
  w.U8(a + 64, 0x88);
  w.LE64(a + 65, clusters);
  w.LE64(a + 73, lcn);
  w.LE32(a + 88, 0xFFFFFFFF);
  w.LE32(24, static_cast<uint32_t>(a + 96));
  w.LE16(40, 1);
  // Update sequence: the last two bytes of every 512-byte stride move into the array.
  w.LE16(48, 1);
  for (uint16_t i = 1; i < usaCount; ++i) {
    rec[48 + 2 * i] = rec[i * 512 - 2];
    rec[48 + 2 * i + 1] = rec[i * 512 - 1];
    rec[i * 512 - 2] = 1;
    rec[i * 512 - 1] = 0;
  }
  return rec;
}

bool FormatNtfs(const Place& p, SimFsState& s) {
  s.heapOffset = 0;
  s.clusters = (s.volumeSectors - 1) / s.sectorsPerCluster;  // the last sector holds the backup boot sector
  if (s.clusters < 64) return false;
  s.mftLcn = s.clusters / 3;
  std::vector<uint8_t> boot(s.bytesPerSector, 0);
  TByteWriter w(boot);
  w.Bytes(0, std::vector<uint8_t>{0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '});
  w.LE16(11, static_cast<uint16_t>(s.bytesPerSector));
  w.U8(13, static_cast<uint8_t>(s.sectorsPerCluster));
  w.U8(21, 0xF8);
  w.LE64(40, s.volumeSectors - 1);  // the backup boot sector sits in the last sector
  w.LE64(48, s.mftLcn);
  w.LE64(56, 2);
  w.U8(64, 0xF6);  // file records of 2^10 bytes
  w.U8(68, 1);
  w.U8(510, 0x55);
  w.U8(511, 0xAA);
  if (!WriteBytes(p, 0, boot)) return false;
  s.bitmap.assign(CeilDiv(s.clusters, 8), 0);
  // $Boot and the first clusters, an MFT of 16 records, and $Bitmap's data after it.
  const uint64_t bootClusters = CeilDiv(8192, s.ClusterBytes());
  for (uint64_t c = 0; c < bootClusters; ++c) SetBit(s.bitmap, c, true);
  const uint64_t mftClusters = CeilDiv(16 * 1024, s.ClusterBytes());
  for (uint64_t c = 0; c < mftClusters; ++c) SetBit(s.bitmap, s.mftLcn + c, true);
  const uint64_t bitmapBytes = CeilDiv(s.bitmap.size(), 8) * 8;
  const uint64_t bitmapLcn = s.mftLcn + mftClusters;
  const uint64_t bitmapClusters = CeilDiv(bitmapBytes, s.ClusterBytes());
  for (uint64_t c = 0; c < bitmapClusters; ++c) SetBit(s.bitmap, bitmapLcn + c, true);
  SetBit(s.bitmap, s.clusters - 1, true);
  s.ntfsBitmapRuns = {{bitmapLcn, bitmapClusters}};
  if (!ZeroVolumeBytes(p, s.mftLcn * s.ClusterBytes(), mftClusters * s.ClusterBytes()) ||
      !WriteBytes(p, s.mftLcn * s.ClusterBytes() + 6 * 1024,
                  BitmapRecord(1024, bitmapLcn, bitmapClusters, bitmapBytes, s.ClusterBytes())) ||
      !ZeroVolumeBytes(p, bitmapLcn * s.ClusterBytes(), bitmapClusters * s.ClusterBytes()))
    return false;
  return WriteBitmapBytes(p, s, 0, s.bitmap.size());
}

// ---- mounting what is on disk ----

bool Why(std::string* why, const char* text) {
  if (why) *why = text;
  return false;
}

bool MountFat32(const Place& p, const std::vector<uint8_t>& b, SimFsState& s, std::string* why) {
  TByteReader r(b);
  s.kind = SimFsKind::kFat32;
  s.bytesPerSector = r.LE16(11);
  s.sectorsPerCluster = r.U8(13);
  s.fatOffset = r.LE16(14);
  s.fatCount = r.U8(16);
  s.fatSectors = r.LE32(36);
  s.volumeSectors = r.LE32(32) ? r.LE32(32) : r.LE16(19);
  if (!s.bytesPerSector || !s.sectorsPerCluster || !s.fatSectors) return Why(why, "FAT32 fields are zero");
  s.heapOffset = s.fatOffset + s.fatCount * s.fatSectors;
  s.clusters = (s.volumeSectors - s.heapOffset) / s.sectorsPerCluster;
  s.rootCluster = r.LE32(44);
  std::vector<uint8_t> fat;
  if (!ReadBytes(p, s.fatOffset * s.bytesPerSector, (s.clusters + 2) * 4, fat)) return Why(why, "FAT read failed");
  s.bitmap.assign(CeilDiv(s.clusters, 8), 0);
  TByteReader f(fat);
  for (uint64_t c = 0; c < s.clusters; ++c)
    if (f.LE32((c + 2) * 4) & 0x0FFFFFFF) SetBit(s.bitmap, c, true);
  return true;
}

bool MountExFat(const Place& p, const std::vector<uint8_t>& b, SimFsState& s, std::string* why) {
  TByteReader r(b);
  s.kind = SimFsKind::kExFat;
  s.bytesPerSector = 1u << r.U8(108);
  s.sectorsPerCluster = 1u << r.U8(109);
  s.volumeSectors = r.LE64(72);
  s.fatOffset = r.LE32(80);
  s.fatSectors = r.LE32(84);
  s.fatCount = 1;
  s.heapOffset = r.LE32(88);
  s.clusters = r.LE32(92);
  const uint32_t root = r.LE32(96);
  if (r.U8(108) < 9 || r.U8(108) > 12 || root < 2) return Why(why, "exFAT fields out of range");
  std::vector<uint8_t> dir;
  if (!ReadBytes(p, s.heapOffset * s.bytesPerSector + uint64_t(root - 2) * s.ClusterBytes(), s.ClusterBytes(),
                 dir))
    return Why(why, "exFAT root directory read failed");
  s.rootCluster = root;
  bool haveBitmap = false;
  for (size_t at = 0; at + 32 <= dir.size(); at += 32) {
    TByteReader e({dir.data() + at, 32});
    if (e.U8(0) == 0x82) {
      // The up-case table, compressed or not: 0xFFFF and a count stand for that many
      // characters that map to themselves.
      std::vector<uint8_t> raw;
      const uint32_t first = e.LE32(20);
      const uint64_t len = e.LE64(24);
      if (first < 2 || len > 2 * 65536 ||
          !ReadBytes(p, s.heapOffset * s.bytesPerSector + uint64_t(first - 2) * s.ClusterBytes(), len, raw))
        return Why(why, "exFAT up-case table read failed");
      TByteReader t(raw);
      s.upcase.clear();
      for (size_t i = 0; i + 1 < raw.size() && s.upcase.size() < 65536; i += 2) {
        const uint16_t c = t.LE16(i);
        if (c == 0xFFFF && i + 3 < raw.size()) {
          const uint16_t n = t.LE16(i + 2);
          for (uint16_t k = 0; k < n && s.upcase.size() < 65536; ++k)
            s.upcase.push_back(static_cast<uint16_t>(s.upcase.size()));
          i += 2;
        } else {
          s.upcase.push_back(c);
        }
      }
      continue;
    }
    if (e.U8(0) != 0x81 || haveBitmap) continue;
    s.exfatBitmapCluster = e.LE32(20);
    const uint64_t len = e.LE64(24);
    if (s.exfatBitmapCluster < 2 || len < CeilDiv(s.clusters, 8))
      return Why(why, "exFAT bitmap entry out of range");
    std::vector<uint8_t> bm;
    if (!ReadBytes(p, s.heapOffset * s.bytesPerSector + uint64_t(s.exfatBitmapCluster - 2) * s.ClusterBytes(),
                   CeilDiv(s.clusters, 8), bm))
      return Why(why, "exFAT bitmap read failed");
    s.bitmap = bm;
    const uint64_t spare = s.clusters & 7;
    if (spare) s.bitmap.back() = static_cast<uint8_t>(s.bitmap.back() & ((1u << spare) - 1));
    haveBitmap = true;
  }
  if (haveBitmap) return true;
  return Why(why, "exFAT allocation bitmap entry not found");
}

// $Bitmap is file record 6 of the MFT; its unnamed $DATA attribute holds the cluster bitmap.
bool MountNtfs(const Place& p, const std::vector<uint8_t>& b, SimFsState& s, std::string* why) {
  TByteReader r(b);
  s.kind = SimFsKind::kNtfs;
  s.bytesPerSector = r.LE16(11);
  s.sectorsPerCluster = r.U8(13);
  s.volumeSectors = r.LE64(40) + 1;
  s.mftLcn = r.LE64(48);
  const int8_t perRecord = static_cast<int8_t>(r.U8(64));
  if (!s.bytesPerSector || !s.sectorsPerCluster) return Why(why, "NTFS fields are zero");
  const uint64_t recordBytes = perRecord < 0 ? uint64_t(1) << -perRecord : uint64_t(perRecord) * s.ClusterBytes();
  s.heapOffset = 0;
  s.clusters = (s.volumeSectors - 1) / s.sectorsPerCluster;
  std::vector<uint8_t> rec;
  if (!ReadBytes(p, s.mftLcn * s.ClusterBytes() + 6 * recordBytes, recordBytes, rec))
    return Why(why, "MFT record read failed");
  TByteReader h(rec);
  if (h.LE32(0) != 0x454C4946) return Why(why, "MFT record 6 is not a FILE record");  // "FILE"
  // Update sequence: the last two bytes of every 512-byte stride are kept in the array.
  const uint16_t usa = h.LE16(4);
  const uint16_t usaCount = h.LE16(6);
  for (uint16_t i = 1; i < usaCount && i * 512u <= rec.size(); ++i) {
    rec[i * 512 - 2] = rec[usa + 2 * i];
    rec[i * 512 - 1] = rec[usa + 2 * i + 1];
  }
  TByteReader a(rec);
  size_t at = a.LE16(20);
  while (at + 16 <= rec.size()) {
    const uint32_t type = a.LE32(at);
    const uint32_t len = a.LE32(at + 4);
    if (type == 0xFFFFFFFF || len == 0) break;
    if (type == 0x80 && a.U8(at + 9) == 0) {
      const uint64_t want = CeilDiv(s.clusters, 8);
      std::vector<uint8_t> data;
      if (a.U8(at + 8) == 0) {
        const uint32_t n = a.LE32(at + 16);
        const size_t off = at + a.LE16(at + 20);
        data.assign(rec.begin() + static_cast<std::ptrdiff_t>(off),
                    rec.begin() + static_cast<std::ptrdiff_t>(off + n));
      } else {
        size_t run = at + a.LE16(at + 32);
        int64_t lcn = 0;
        while (run < at + len && rec[run] != 0) {
          const unsigned lenBytes = rec[run] & 0x0F;
          const unsigned offBytes = rec[run] >> 4;
          uint64_t count = 0;
          for (unsigned k = 0; k < lenBytes; ++k) count |= uint64_t(rec[run + 1 + k]) << (8 * k);
          int64_t delta = 0;
          for (unsigned k = 0; k < offBytes; ++k) delta |= int64_t(rec[run + 1 + lenBytes + k]) << (8 * k);
          if (offBytes && (rec[run + lenBytes + offBytes] & 0x80)) delta -= int64_t(1) << (8 * offBytes);
          lcn += delta;
          s.ntfsBitmapRuns.push_back({uint64_t(lcn), count});
          std::vector<uint8_t> part;
          if (!ReadBytes(p, uint64_t(lcn) * s.ClusterBytes(), count * s.ClusterBytes(), part))
            return Why(why, "$Bitmap read failed");
          data.insert(data.end(), part.begin(), part.end());
          run += 1 + lenBytes + offBytes;
        }
      }
      if (data.size() < want) return Why(why, "$Bitmap shorter than the volume");
      s.bitmap.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(want));
      const uint64_t spare = s.clusters & 7;
      if (spare) s.bitmap.back() = static_cast<uint8_t>(s.bitmap.back() & ((1u << spare) - 1));
      return true;
    }
    at += len;
  }
  return Why(why, "$Bitmap data not found");
}

}  // namespace

uint64_t SimFsState::FreeClusters() const {
  uint64_t used = 0;
  size_t i = 0;
  for (; i + 8 <= bitmap.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, bitmap.data() + i, 8);
    used += static_cast<uint64_t>(std::popcount(w));
  }
  for (; i < bitmap.size(); ++i) used += static_cast<uint64_t>(std::popcount(bitmap[i]));
  return clusters - used;
}

bool FormatVolume(SimStorage& storage, char letter, SimFsKind kind, uint32_t bytesPerSector,
                  uint32_t clusterBytes) {
  Place p;
  if (!Locate(storage, letter, p)) return false;
  if ((bytesPerSector != 512 && bytesPerSector != 4096) || clusterBytes < bytesPerSector || clusterBytes > 65536 ||
      !std::has_single_bit(clusterBytes))
    return false;
  // Windows formats in the disk's own logical sectors.
  if (bytesPerSector != SimLogicalBlockSize(*p.disk)) return false;
  auto s = std::make_shared<SimFsState>();
  s->kind = kind;
  s->bytesPerSector = bytesPerSector;
  s->sectorsPerCluster = clusterBytes / bytesPerSector;
  s->volumeSectors = p.sectors * 512 / bytesPerSector;
  const bool ok = kind == SimFsKind::kFat32   ? FormatFat32(p, *s)
                  : kind == SimFsKind::kExFat ? FormatExFat(p, *s)
                                              : FormatNtfs(p, *s);
  if (!ok) return false;
  Publish(*p.vol, *s);
  std::lock_guard<std::mutex> lk(p.vol->mu);
  p.vol->fs = s;
  return true;
}

bool MountVolume(SimStorage& storage, char letter, std::string* why) {
  Place p;
  if (!Locate(storage, letter, p)) return Why(why, "no such volume");
  std::vector<uint8_t> boot;
  if (!ReadBytes(p, 0, 512, boot)) return Why(why, "boot sector read failed");
  auto s = std::make_shared<SimFsState>();
  bool ok;
  if (std::memcmp(boot.data() + 3, "EXFAT   ", 8) == 0)
    ok = MountExFat(p, boot, *s, why);
  else if (std::memcmp(boot.data() + 3, "NTFS    ", 8) == 0)
    ok = MountNtfs(p, boot, *s, why);
  else if (std::memcmp(boot.data() + 82, "FAT32   ", 8) == 0)
    ok = MountFat32(p, boot, *s, why);
  else
    return Why(why, "no file system recognised");
  if (!ok) return false;
  // A file system laid out in sectors of another size than the disk's is not that file system
  // to Windows: the volume shows as RAW.
  if (s->bytesPerSector != SimLogicalBlockSize(*p.disk)) {
    std::lock_guard<std::mutex> lk(p.vol->mu);
    p.vol->fileSystemName.clear();
    p.vol->fs = nullptr;
    return Why(why, "bytes per sector differ from the disk's logical sector size");
  }
  Publish(*p.vol, *s);
  std::lock_guard<std::mutex> lk(p.vol->mu);
  p.vol->fs = s;
  return true;
}

bool LoadImageFile(SimDisk& disk, uint64_t lba, const std::string& hostPath) {
  std::FILE* f = std::fopen(hostPath.c_str(), "rb");
  if (!f) return false;
  std::vector<uint8_t> buf(1 << 20);
  static const uint8_t kZero[512] = {};
  bool ok = true;
  for (;;) {
    const size_t n = std::fread(buf.data(), 1, buf.size(), f);
    if (n == 0) break;
    for (size_t at = 0; at < n && ok; at += 512) {
      uint8_t sector[512] = {};
      std::memcpy(sector, buf.data() + at, std::min<size_t>(512, n - at));
      if (std::memcmp(sector, kZero, 512) != 0) ok = disk.drive.Write(lba, 1, sector);
      ++lba;
    }
    if (!ok || n < buf.size()) break;
  }
  std::fclose(f);
  return ok;
}

std::shared_ptr<SimFsState> FsState(SimStorage& storage, char letter) {
  auto v = storage.Volume(letter);
  if (!v) return nullptr;
  std::lock_guard<std::mutex> lk(v->mu);
  return v->fs;
}

static bool Mark(SimStorage& storage, char letter, const SimClusterRuns& runs, bool used) {
  Place p;
  if (!Locate(storage, letter, p)) return false;
  auto s = FsState(storage, letter);
  if (!s) return false;
  std::lock_guard<std::mutex> lk(s->mu);
  return MarkClusters(p, *s, runs, used);
}

bool AllocateRuns(SimStorage& storage, char letter, const SimClusterRuns& runs) {
  return Mark(storage, letter, runs, true);
}
bool ReleaseRuns(SimStorage& storage, char letter, const SimClusterRuns& runs) {
  return Mark(storage, letter, runs, false);
}

SimClusterRuns AllocateFile(SimStorage& storage, char letter, uint64_t clusters) {
  Place p;
  if (!Locate(storage, letter, p)) return {};
  auto s = FsState(storage, letter);
  if (!s) return {};
  std::lock_guard<std::mutex> lk(s->mu);
  if (clusters == 0 || s->FreeClusters() < clusters) return {};
  SimClusterRuns runs = FindFreeClusters(*s, clusters);
  if (!MarkClusters(p, *s, runs, true)) return {};
  return runs;
}

std::vector<std::pair<uint64_t, uint64_t>> FreeDiskRanges(SimStorage& storage, char letter) {
  Place p;
  if (!Locate(storage, letter, p)) return {};
  auto s = FsState(storage, letter);
  if (!s) return {};
  std::lock_guard<std::mutex> lk(s->mu);
  const uint64_t perCluster = s->ClusterBytes() / SimDrive::kSectorSize;
  const uint64_t heap = p.firstLba + s->heapOffset * (s->bytesPerSector / SimDrive::kSectorSize);
  std::vector<std::pair<uint64_t, uint64_t>> r;
  for (uint64_t c = 0; c < s->clusters; ++c) {
    if (s->Used(c)) continue;
    if (!r.empty() && r.back().first + r.back().second == heap + c * perCluster)
      r.back().second += perCluster;
    else
      r.push_back({heap + c * perCluster, perCluster});
  }
  return r;
}

// ---- for the modules that keep a volume's structures -------------------------------------------

bool LocateVolume(SimStorage& storage, char letter, SimVolumePlace* p) {
  p->vol = storage.Volume(letter);
  if (!p->vol) return false;
  SimExtent e;
  {
    std::lock_guard<std::mutex> lk(p->vol->mu);
    if (p->vol->extents.empty()) return false;
    e = p->vol->extents.front();
  }
  p->disk = storage.Disk(e.diskNumber);
  if (!p->disk) return false;
  p->firstLba = e.startingOffset / SimDrive::kSectorSize;
  p->sectors = e.length / SimDrive::kSectorSize;
  return true;
}

bool ReadVolumeBytes(const SimVolumePlace& p, uint64_t offset, size_t n, std::vector<uint8_t>& out) {
  const uint64_t first = offset / 512;
  const uint64_t last = (offset + n + 511) / 512;
  if (last > p.sectors) return false;
  std::vector<uint8_t> buf((last - first) * 512);
  if (!p.disk->drive.Read(p.firstLba + first, static_cast<uint32_t>(last - first), buf.data())) return false;
  out.assign(buf.begin() + static_cast<std::ptrdiff_t>(offset - first * 512),
             buf.begin() + static_cast<std::ptrdiff_t>(offset - first * 512 + n));
  return true;
}

bool WriteVolumeBytes(const SimVolumePlace& p, uint64_t offset, const std::vector<uint8_t>& data) {
  const uint64_t first = offset / 512;
  const uint64_t last = (offset + data.size() + 511) / 512;
  if (last > p.sectors) return false;
  std::vector<uint8_t> buf((last - first) * 512);
  // Only the partial sectors at either end need what the drive holds.
  const bool headPartial = offset % 512 != 0, tailPartial = (offset + data.size()) % 512 != 0;
  if ((headPartial || tailPartial) && last - first <= 2) {
    if (!p.disk->drive.Read(p.firstLba + first, static_cast<uint32_t>(last - first), buf.data())) return false;
  } else {
    if (headPartial && !p.disk->drive.Read(p.firstLba + first, 1, buf.data())) return false;
    if (tailPartial && !p.disk->drive.Read(p.firstLba + last - 1, 1, buf.data() + (last - first - 1) * 512))
      return false;
  }
  std::memcpy(buf.data() + (offset - first * 512), data.data(), data.size());
  return p.disk->drive.Write(p.firstLba + first, static_cast<uint32_t>(last - first), buf.data());
}

bool ZeroVolumeBytes(const SimVolumePlace& p, uint64_t offset, uint64_t n) {
  const uint64_t first = (offset + 511) / 512, last = (offset + n) / 512;  // the whole sectors inside
  if (first >= last) return WriteVolumeBytes(p, offset, std::vector<uint8_t>(n, 0));
  if (last > p.sectors || !p.disk->drive.WriteZeros(p.firstLba + first, last - first)) return false;
  return (offset == first * 512 || WriteVolumeBytes(p, offset, std::vector<uint8_t>(first * 512 - offset, 0))) &&
         (offset + n == last * 512 ||
          WriteVolumeBytes(p, last * 512, std::vector<uint8_t>(offset + n - last * 512, 0)));
}

bool MarkClusters(const SimVolumePlace& p, SimFsState& s, const SimClusterRuns& runs, bool used) {
  uint64_t lo = UINT64_MAX, hi = 0;
  for (auto [first, count] : runs) {
    if (first > s.clusters || count > s.clusters - first) return false;
    for (uint64_t c = first; c < first + count; ++c) SetBit(s.bitmap, c, used);
    if (count) {
      lo = std::min(lo, first);
      hi = std::max(hi, first + count);
    }
  }
  bool ok = true;
  if (s.kind == SimFsKind::kFat32 || (s.kind == SimFsKind::kExFat && !used)) {
    for (auto [first, count] : runs) {
      if (!count) continue;
      std::vector<uint32_t> v(count, 0);
      if (used) {
        for (uint64_t i = 0; i < count; ++i) v[i] = static_cast<uint32_t>(first + i + 1 + 2);
        v.back() = EndOfChain(s);
      }
      ok = ok && WriteFatEntries(p, s, first, v);
    }
  }
  if (hi > lo) ok = ok && WriteBitmapBytes(p, s, lo / 8, (hi - 1) / 8 + 1);
  if (s.kind == SimFsKind::kFat32) ok = ok && WriteFsInfo(p, s);
  Publish(*p.vol, s);
  return ok;
}

bool WriteFatChain(const SimVolumePlace& p, const SimFsState& s, const SimClusterRuns& runs) {
  if (s.kind == SimFsKind::kNtfs) return true;
  for (size_t r = 0; r < runs.size(); ++r) {
    const auto [first, count] = runs[r];
    if (!count) continue;
    std::vector<uint32_t> v(count);
    for (uint64_t i = 0; i + 1 < count; ++i) v[i] = static_cast<uint32_t>(first + i + 1 + 2);
    v.back() = r + 1 < runs.size() ? static_cast<uint32_t>(runs[r + 1].first + 2) : EndOfChain(s);
    if (!WriteFatEntries(p, s, first, v)) return false;
  }
  return true;
}

SimClusterRuns FindFreeClusters(const SimFsState& s, uint64_t want, uint64_t from, uint64_t maxRun, uint64_t gap) {
  SimClusterRuns runs;
  if (s.clusters == 0) return runs;
  uint64_t c = from < s.clusters ? from : 0, got = 0, skip = 0;
  for (uint64_t seen = 0; got < want && seen < s.clusters;) {
    if ((c & 7) == 0 && c + 8 <= s.clusters && s.bitmap[c >> 3] == 0xFF) {  // eight in use at once
      c += 8;
      seen += 8;
    } else {
      if (!s.Used(c)) {
        if (skip) {
          --skip;
        } else {
          if (!runs.empty() && runs.back().first + runs.back().second == c &&
              (maxRun == 0 || runs.back().second < maxRun))
            ++runs.back().second;
          else
            runs.push_back({c, 1});
          ++got;
          if (maxRun && runs.back().second == maxRun) skip = gap;
        }
      }
      ++c;
      ++seen;
    }
    if (c >= s.clusters) c = 0;
  }
  return runs;
}

bool SaveImageFile(SimStorage& storage, char letter, const std::string& hostPath) {
  Place p;
  if (!Locate(storage, letter, p)) return false;
  std::FILE* f = std::fopen(hostPath.c_str(), "wb");
  if (!f) return false;
  std::vector<uint8_t> buf(1 << 20);
  bool ok = true;
  for (uint64_t at = 0; at < p.sectors && ok;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(buf.size() / 512, p.sectors - at));
    ok = p.disk->drive.Read(p.firstLba + at, n, buf.data()) && std::fwrite(buf.data(), 512, n, f) == n;
    at += n;
  }
  return std::fclose(f) == 0 && ok;
}

}  // namespace plat::sim
