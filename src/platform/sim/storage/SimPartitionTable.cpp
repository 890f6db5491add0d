#include "platform/sim/storage/SimPartitionTable.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/uByteOrder.h"
#include "platform/sim/storage/SimDrive.h"

namespace plat::sim {

namespace {

using Block = std::vector<uint8_t>;

constexpr size_t kMbrSignatureAt = 440;
constexpr size_t kMbrTableAt = 446;
constexpr size_t kMbrEntrySize = 16;
constexpr size_t kMbrMarkAt = 510;
constexpr uint8_t kProtectiveType = 0xEE;
constexpr uint32_t kGptEntrySize = 128;
constexpr uint32_t kGptHeaderSize = 92;
constexpr uint32_t kGptMinEntries = 128;
constexpr uint32_t kGptMaxArrayBytes = 1u << 20;  // more than any table Windows reads
constexpr int kMaxExtendedRecords = 128;          // a chain longer than this is taken as a loop

uint64_t DiskBlocks(const SimDrive& drive, uint32_t bs) { return drive.Sectors() * SimDrive::kSectorSize / bs; }

bool ReadBlocks(const SimDrive& drive, uint32_t bs, uint64_t lba, uint64_t count, Block& out) {
  const uint64_t per = bs / SimDrive::kSectorSize;
  out.assign(static_cast<size_t>(count * bs), 0);
  return count == 0 || drive.Read(lba * per, static_cast<uint32_t>(count * per), out.data());
}

bool WriteBlocks(SimDrive& drive, uint32_t bs, uint64_t lba, const Block& data) {
  const uint64_t per = bs / SimDrive::kSectorSize;
  return data.empty() ||
         drive.Write(lba * per, static_cast<uint32_t>(data.size() / SimDrive::kSectorSize), data.data());
}

bool IsZero(const GUID& g) {
  static const GUID kZero{};
  return std::memcmp(&g, &kZero, sizeof g) == 0;
}

GUID GuidAt(const Block& b, size_t at) {
  GUID g;
  std::memcpy(&g, b.data() + at, sizeof g);  // the on-disk order is the in-memory one
  return g;
}

void PutGuid(Block& b, size_t at, const GUID& g) { std::memcpy(b.data() + at, &g, sizeof g); }

bool IsExtended(uint8_t type) {
  return type == PARTITION_EXTENDED || type == PARTITION_XINT13_EXTENDED || type == 0x85;
}

// The types Windows mounts a file system on.
bool IsRecognized(uint8_t type) {
  switch (type) {
    case 0x01:
    case 0x04:
    case 0x06:
    case PARTITION_IFS:
    case 0x0B:
    case PARTITION_FAT32_XINT13:
    case 0x0E: return true;
    default: return false;
  }
}

// CHS of a block as BIOS geometry 255 heads x 63 sectors gives it, FE FF FF past cylinder 1023.
std::array<uint8_t, 3> Chs(uint64_t lba) {
  const uint64_t cyl = lba / (255 * 63);
  if (cyl > 1023) return {0xFE, 0xFF, 0xFF};
  const uint64_t head = (lba / 63) % 255;
  const uint64_t sector = lba % 63 + 1;
  return {static_cast<uint8_t>(head), static_cast<uint8_t>(sector | ((cyl >> 2) & 0xC0)),
          static_cast<uint8_t>(cyl & 0xFF)};
}

void PutMbrEntry(Block& b, size_t slot, uint8_t boot, uint8_t type, uint64_t first, uint64_t count,
                 std::array<uint8_t, 3> chsFirst, std::array<uint8_t, 3> chsLast) {
  TByteWriter w(b);
  const size_t at = kMbrTableAt + slot * kMbrEntrySize;
  w.U8(at, boot);
  w.Bytes(at + 1, chsFirst);
  w.U8(at + 4, type);
  w.Bytes(at + 5, chsLast);
  w.LE32(at + 8, static_cast<uint32_t>(first));
  w.LE32(at + 12, static_cast<uint32_t>(count));
}

struct MbrSlot {
  uint8_t boot, type;
  uint32_t first, count;
};

// The four slots of a table block; false when it carries no 55AA mark or a boot indicator that
// no MBR has.
bool ReadMbrSlots(const Block& b, std::array<MbrSlot, 4>& slots) {
  TByteReader r(b);
  if (r.U8(kMbrMarkAt) != 0x55 || r.U8(kMbrMarkAt + 1) != 0xAA) return false;
  for (size_t i = 0; i < 4; ++i) {
    const size_t at = kMbrTableAt + i * kMbrEntrySize;
    slots[i] = {r.U8(at), r.U8(at + 4), r.LE32(at + 8), r.LE32(at + 12)};
    if (slots[i].boot != 0 && slots[i].boot != 0x80) return false;
  }
  return true;
}

uint32_t MbrCheckSum(const Block& b) {
  TByteReader r(b);
  uint32_t sum = 0;
  for (size_t i = 0; i < 128; ++i) sum += r.LE32(i * 4);
  return ~sum + 1;
}

// One GPT header and its array, checked as the partition manager checks them.
bool ReadGptAt(const SimDrive& drive, uint32_t bs, uint64_t myLba, SimPartitionLayout& layout) {
  Block h;
  if (!ReadBlocks(drive, bs, myLba, 1, h)) return false;
  TByteReader r(h);
  if (std::memcmp(h.data(), "EFI PART", 8) != 0) return false;
  const uint32_t headerSize = r.LE32(12);
  if (headerSize < kGptHeaderSize || headerSize > bs) return false;
  const uint32_t crc = r.LE32(16);
  Block copy(h.begin(), h.begin() + headerSize);
  std::memset(copy.data() + 16, 0, 4);
  if (SimCrc32(copy.data(), copy.size()) != crc || r.LE64(24) != myLba) return false;
  const uint64_t first = r.LE64(40), last = r.LE64(48), arrayLba = r.LE64(72);
  const uint32_t count = r.LE32(80), size = r.LE32(84), arrayCrc = r.LE32(88);
  if (size < kGptEntrySize || size % 8 || uint64_t{count} * size > kGptMaxArrayBytes) return false;
  const uint64_t arrayBlocks = (uint64_t{count} * size + bs - 1) / bs;
  Block a;
  if (!ReadBlocks(drive, bs, arrayLba, arrayBlocks, a)) return false;
  if (SimCrc32(a.data(), size_t{count} * size) != arrayCrc) return false;
  layout.style = SimPartitionStyle::kGpt;
  layout.diskId = GuidAt(h, 56);
  layout.firstUsableLba = first;
  layout.lastUsableLba = last;
  layout.maxPartitionCount = count;
  TByteReader e(a);
  uint32_t number = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = size_t{i} * size;
    SimPartitionEntry p;
    p.type = GuidAt(a, at);
    if (IsZero(p.type)) continue;
    const uint64_t start = e.LE64(at + 32), end = e.LE64(at + 40);
    if (end < start) continue;
    p.id = GuidAt(a, at + 16);
    p.firstLba = start;
    p.blocks = end - start + 1;
    p.attributes = e.LE64(at + 48);
    for (size_t c = 0; c < 36; ++c) {
      const char16_t ch = static_cast<char16_t>(e.LE16(at + 56 + 2 * c));
      if (!ch) break;
      p.name.push_back(ch);
    }
    p.number = ++number;
    layout.entries.push_back(p);
  }
  return true;
}

SimPartitionEntry MbrEntry(const MbrSlot& s, uint64_t base, uint32_t* number) {
  SimPartitionEntry p;
  if (s.type == PARTITION_ENTRY_UNUSED) return p;
  p.firstLba = base + s.first;
  p.blocks = s.count;
  p.mbrType = s.type;
  p.boot = s.boot == 0x80;
  p.hiddenSectors = s.first;
  if (!IsExtended(s.type)) p.number = ++*number;
  return p;
}

void ReadMbr(const SimDrive& drive, uint32_t bs, const Block& first, const std::array<MbrSlot, 4>& primary,
             SimPartitionLayout& layout) {
  layout.style = SimPartitionStyle::kMbr;
  layout.mbrSignature = TByteReader(first).LE32(kMbrSignatureAt);
  layout.mbrCheckSum = MbrCheckSum(first);
  uint32_t number = 0;
  uint64_t extendedBase = 0;
  for (const MbrSlot& s : primary) {
    layout.entries.push_back(MbrEntry(s, 0, &number));
    if (IsExtended(s.type) && !extendedBase) extendedBase = s.first;
  }
  // Each extended boot record: its logical partition counts from the record, its link from the
  // start of the extended partition.
  uint64_t record = extendedBase;
  for (int n = 0; record && n < kMaxExtendedRecords; ++n) {
    Block b;
    std::array<MbrSlot, 4> slots{};
    if (!ReadBlocks(drive, bs, record, 1, b) || !ReadMbrSlots(b, slots)) break;
    uint64_t next = 0;
    for (const MbrSlot& s : slots) {
      const bool link = IsExtended(s.type);
      layout.entries.push_back(MbrEntry(s, link ? extendedBase : record, &number));
      if (link && !next) next = extendedBase + s.first;
    }
    record = next;
  }
}

bool Overlap(const SimPartitionEntry& a, const SimPartitionEntry& b) {
  return a.firstLba < b.firstLba + b.blocks && b.firstLba < a.firstLba + a.blocks;
}

GUID SeedGuid(uint32_t seed, uint16_t kind) {
  return GUID{0x5D000000u | (seed & 0xFFFFFF), kind, 0x4000, {0x80, 0x00, 0x56, 0x54, 0x53, 0x49, 0x4D, 0x00}};
}

}  // namespace

uint32_t SimCrc32(const void* data, size_t n) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return ~c;
}

SimPartitionLayout ReadPartitionLayout(const SimDrive& drive, uint32_t bs) {
  SimPartitionLayout layout;
  layout.blockSize = bs;
  layout.diskBlocks = DiskBlocks(drive, bs);
  Block first;
  std::array<MbrSlot, 4> slots{};
  if (layout.diskBlocks == 0 || !ReadBlocks(drive, bs, 0, 1, first) || !ReadMbrSlots(first, slots)) return layout;
  const bool protective =
      std::any_of(slots.begin(), slots.end(), [](const MbrSlot& s) { return s.type == kProtectiveType; });
  if (!protective) {
    ReadMbr(drive, bs, first, slots, layout);
    return layout;
  }
  SimPartitionLayout gpt = layout;
  if (ReadGptAt(drive, bs, 1, gpt)) return gpt;
  gpt = layout;
  if (ReadGptAt(drive, bs, layout.diskBlocks - 1, gpt)) return gpt;
  return layout;  // a GPT that neither copy can vouch for: nothing Windows would use
}

bool WriteMbrLayout(SimDrive& drive, uint32_t bs, uint32_t signature,
                    const std::vector<SimPartitionEntry>& parts) {
  const uint64_t blocks = DiskBlocks(drive, bs);
  if (blocks == 0 || parts.size() > 4) return false;
  for (const auto& p : parts)
    if (p.firstLba == 0 || p.blocks == 0 || p.firstLba + p.blocks > blocks || p.firstLba > 0xFFFFFFFFu ||
        p.blocks > 0xFFFFFFFFu)
      return false;
  Block b;
  if (!ReadBlocks(drive, bs, 0, 1, b)) return false;
  std::fill(b.begin() + kMbrSignatureAt, b.begin() + kMbrSignatureAt + 4, 0);
  std::fill(b.begin() + kMbrTableAt, b.end(), 0);
  TByteWriter w(b);
  w.LE32(kMbrSignatureAt, signature);
  for (size_t i = 0; i < parts.size(); ++i)
    PutMbrEntry(b, i, parts[i].boot ? 0x80 : 0x00, parts[i].mbrType, parts[i].firstLba, parts[i].blocks,
                Chs(parts[i].firstLba), Chs(parts[i].firstLba + parts[i].blocks - 1));
  w.U8(kMbrMarkAt, 0x55);
  w.U8(kMbrMarkAt + 1, 0xAA);
  return WriteBlocks(drive, bs, 0, b);
}

bool WriteGptLayout(SimDrive& drive, uint32_t bs, const GUID& diskId, uint32_t maxPartitionCount,
                    const std::vector<SimPartitionEntry>& parts) {
  const uint32_t perBlock = bs / kGptEntrySize;
  uint32_t count = std::max(maxPartitionCount, kGptMinEntries);
  count = (count + perBlock - 1) / perBlock * perBlock;
  if (uint64_t{count} * kGptEntrySize > kGptMaxArrayBytes || parts.size() > count) return false;
  const uint64_t arrayBlocks = uint64_t{count} * kGptEntrySize / bs;
  const uint64_t blocks = DiskBlocks(drive, bs);
  if (blocks < 2 * arrayBlocks + 4) return false;
  const uint64_t lastLba = blocks - 1;
  const uint64_t firstUsable = 2 + arrayBlocks, lastUsable = lastLba - 1 - arrayBlocks;
  for (size_t i = 0; i < parts.size(); ++i) {
    const auto& p = parts[i];
    if (p.blocks == 0 || p.firstLba < firstUsable || p.firstLba + p.blocks - 1 > lastUsable) return false;
    for (size_t j = 0; j < i; ++j)
      if (Overlap(p, parts[j])) return false;
  }

  Block array(static_cast<size_t>(arrayBlocks * bs), 0);
  TByteWriter a(array);
  for (size_t i = 0; i < parts.size(); ++i) {
    const auto& p = parts[i];
    const size_t at = i * kGptEntrySize;
    PutGuid(array, at, p.type);
    PutGuid(array, at + 16, p.id);
    a.LE64(at + 32, p.firstLba);
    a.LE64(at + 40, p.firstLba + p.blocks - 1);
    a.LE64(at + 48, p.attributes);
    for (size_t c = 0; c < p.name.size() && c < 36; ++c) a.LE16(at + 56 + 2 * c, p.name[c]);
  }
  const uint32_t arrayCrc = SimCrc32(array.data(), array.size());

  auto header = [&](uint64_t my, uint64_t alternate, uint64_t arrayLba) {
    Block h(bs, 0);
    TByteWriter w(h);
    w.Bytes(0, std::array<uint8_t, 8>{'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'});
    w.LE32(8, 0x00010000);
    w.LE32(12, kGptHeaderSize);
    w.LE64(24, my);
    w.LE64(32, alternate);
    w.LE64(40, firstUsable);
    w.LE64(48, lastUsable);
    PutGuid(h, 56, diskId);
    w.LE64(72, arrayLba);
    w.LE32(80, count);
    w.LE32(84, kGptEntrySize);
    w.LE32(88, arrayCrc);
    w.LE32(16, SimCrc32(h.data(), kGptHeaderSize));
    return h;
  };

  Block mbr(bs, 0);
  PutMbrEntry(mbr, 0, 0x00, kProtectiveType, 1, std::min<uint64_t>(lastLba, 0xFFFFFFFFu), {0x00, 0x02, 0x00},
              {0xFF, 0xFF, 0xFF});
  mbr[kMbrMarkAt] = 0x55;
  mbr[kMbrMarkAt + 1] = 0xAA;
  const uint64_t backupArray = lastLba - arrayBlocks;
  return WriteBlocks(drive, bs, 0, mbr) && WriteBlocks(drive, bs, 1, header(1, lastLba, 2)) &&
         WriteBlocks(drive, bs, 2, array) && WriteBlocks(drive, bs, backupArray, array) &&
         WriteBlocks(drive, bs, lastLba, header(lastLba, 1, backupArray));
}

bool EraseLayout(SimDrive& drive, uint32_t bs) {
  const uint64_t blocks = DiskBlocks(drive, bs);
  if (blocks == 0) return false;
  const Block zero(bs, 0);
  bool ok = WriteBlocks(drive, bs, 0, zero);
  if (blocks > 1) ok = WriteBlocks(drive, bs, 1, zero) && WriteBlocks(drive, bs, blocks - 1, zero) && ok;
  return ok;
}

PARTITION_INFORMATION_EX PartitionInformation(const SimPartitionLayout& layout, const SimPartitionEntry& e) {
  PARTITION_INFORMATION_EX p{};
  p.PartitionStyle = static_cast<DWORD>(layout.style);
  p.StartingOffset = static_cast<LONGLONG>(e.firstLba * layout.blockSize);
  p.PartitionLength = static_cast<LONGLONG>(e.blocks * layout.blockSize);
  p.PartitionNumber = e.number;
  if (layout.style == SimPartitionStyle::kGpt) {
    p.Gpt.PartitionType = e.type;
    p.Gpt.PartitionId = e.id;
    p.Gpt.Attributes = e.attributes;
    for (size_t c = 0; c < e.name.size() && c < 36; ++c) p.Gpt.Name[c] = e.name[c];
  } else if (layout.style == SimPartitionStyle::kMbr && e.mbrType != PARTITION_ENTRY_UNUSED) {
    p.Mbr.PartitionType = e.mbrType;
    p.Mbr.BootIndicator = e.boot ? 1 : 0;
    p.Mbr.RecognizedPartition = IsRecognized(e.mbrType) ? 1 : 0;
    p.Mbr.HiddenSectors = e.hiddenSectors;
  }
  return p;
}

std::vector<uint8_t> DriveLayoutAnswer(const SimPartitionLayout& layout) {
  const auto n = static_cast<DWORD>(layout.entries.size());
  std::vector<uint8_t> out(DriveLayoutSize(n), 0);
  DRIVE_LAYOUT_INFORMATION_EX head{};
  head.PartitionStyle = static_cast<DWORD>(layout.style);
  head.PartitionCount = n;
  if (layout.style == SimPartitionStyle::kMbr) {
    head.Mbr.Signature = layout.mbrSignature;
    head.Mbr.CheckSum = layout.mbrCheckSum;
  } else if (layout.style == SimPartitionStyle::kGpt) {
    head.Gpt.DiskId = layout.diskId;
    head.Gpt.StartingUsableOffset = static_cast<LONGLONG>(layout.firstUsableLba * layout.blockSize);
    head.Gpt.UsableLength =
        static_cast<LONGLONG>((layout.lastUsableLba + 1 - layout.firstUsableLba) * layout.blockSize);
    head.Gpt.MaxPartitionCount = layout.maxPartitionCount;
  }
  std::memcpy(out.data(), &head, kDriveLayoutHeaderSize);
  for (DWORD i = 0; i < n; ++i) {
    const PARTITION_INFORMATION_EX p = PartitionInformation(layout, layout.entries[i]);
    std::memcpy(out.data() + DriveLayoutSize(i), &p, sizeof p);
  }
  return out;
}

uint8_t MbrTypeFor(const std::string& fileSystem) {
  return fileSystem == "FAT32" ? PARTITION_FAT32_XINT13 : PARTITION_IFS;
}

bool PlacePartition(SimDrive& drive, uint32_t bs, SimPartitionStyle styleIfBlank, uint64_t offsetBytes,
                    uint64_t lengthBytes, const std::string& fileSystem, uint32_t seed) {
  if (lengthBytes == 0 || offsetBytes % bs || lengthBytes % bs) return false;
  SimPartitionLayout layout = ReadPartitionLayout(drive, bs);
  if (layout.style == SimPartitionStyle::kRaw) {
    layout.style = styleIfBlank;
    layout.mbrSignature = 0x5D000000u | (seed & 0xFFFFFF);
    layout.diskId = SeedGuid(seed, 0xD15C);
    layout.maxPartitionCount = kGptMinEntries;
  }
  SimPartitionEntry p;
  p.firstLba = offsetBytes / bs;
  p.blocks = lengthBytes / bs;
  std::vector<SimPartitionEntry> kept;
  for (const auto& e : layout.entries) {
    if (layout.style == SimPartitionStyle::kMbr && e.mbrType == PARTITION_ENTRY_UNUSED) continue;
    if (e.firstLba == p.firstLba && e.blocks == p.blocks) return true;
    if (Overlap(e, p)) return false;
    kept.push_back(e);
  }
  if (layout.style == SimPartitionStyle::kMbr) {
    if (layout.entries.size() > 4) return false;  // an extended chain: not rewritten here
    p.mbrType = MbrTypeFor(fileSystem);
    kept.push_back(p);
    return WriteMbrLayout(drive, bs, layout.mbrSignature, kept);
  }
  p.type = kPartitionBasicDataGuid;
  p.id = SeedGuid(seed, static_cast<uint16_t>(kept.size() + 1));
  p.name = u"Basic data partition";
  kept.push_back(p);
  return WriteGptLayout(drive, bs, layout.diskId, layout.maxPartitionCount, kept);
}

}  // namespace plat::sim
