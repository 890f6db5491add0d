#include "platform/sim/storage/SimBridge.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "base/uByteOrder.h"
#include "platform/WinStorage.h"
#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/storage/SimStorage.h"
#include "platform/sim/files/SimVolumeLocks.h"

namespace plat::sim {

namespace {

constexpr uint64_t kSector = SimDrive::kSectorSize;

BOOL Fail(DWORD e) {
  SimSetLastError(e);
  return FALSE_;
}

// Hands a released range to the drive, with the profile's overrun past its end.
void SimReleaseRange(SimDisk& disk, const SimBridgeProfile& p, uint64_t lba, uint64_t count, const char* command) {
  if (p.trimOverrunSectors) {
    const uint64_t sectors = disk.drive.Sectors();
    const uint64_t end = std::min(sectors, lba + count + p.trimOverrunSectors);
    if (end > lba + count) count = end - lba;
  }
  disk.drive.Trim(lba, count, command);
}

std::string DiskPath(int number) { return "\\\\.\\PhysicalDrive" + std::to_string(number); }

// Which command a block carries (ATA PASS-THROUGH by its ATA command).
SimCommand Classify(const std::vector<uint8_t>& cdb) {
  if (cdb.empty()) return SimCommand::OtherScsi;
  auto ata = [](uint8_t command) {
    if (command == 0xEC) return SimCommand::Identify;
    if (command == 0x06) return SimCommand::AtaDsm;
    return SimCommand::OtherScsi;
  };
  switch (cdb[0]) {
    case 0x85: return cdb.size() >= 16 ? ata(cdb[14]) : SimCommand::OtherScsi;
    case 0xA1: return cdb.size() >= 12 ? ata(cdb[9]) : SimCommand::OtherScsi;
    case 0x42: return SimCommand::Unmap;
    case 0x93: return SimCommand::WriteSame16;
    case 0x12: return SimCommand::Inquiry;
    default: return SimCommand::OtherScsi;
  }
}

// Counts the call and returns the outcome of the fault that hits it, if any.
std::optional<SimOutcome> TakeFault(SimDisk& disk, SimCommand command) {
  const bool open = command == SimCommand::Open || command == SimCommand::VolumeOpen;
  std::lock_guard<std::mutex> lk(disk.mu);
  auto& calls = disk.bridge.calls;
  calls.resize(static_cast<size_t>(SimCommand::StorageTrim) + 1, 0);
  ++calls[static_cast<size_t>(command)];
  if (!open) ++calls[static_cast<size_t>(SimCommand::Any)];
  return disk.bridge.faults.Take(
      [&](SimCommand aim) { return aim == command || (!open && aim == SimCommand::Any); });
}

// The device's answer to one command block.
struct Answer {
  uint8_t status = 0;
  std::vector<uint8_t> sense;
};

// ATA status return descriptor (SAT): error and status registers of the finished command.
void AppendAtaReturn(std::vector<uint8_t>& sense, uint8_t error, uint8_t status) {
  std::vector<uint8_t> d(14, 0);
  d[0] = 0x09;  // ATA Status Return
  d[1] = 0x0C;
  d[3] = error;
  d[13] = status;
  sense.insert(sense.end(), d.begin(), d.end());
  sense[7] = static_cast<uint8_t>(sense.size() - 8);
}

class Decoder {
 public:
  Decoder(SimDisk& disk, const SimBridgeProfile& profile, const SimIdentity& identity, uint8_t dataIn,
          uint8_t* data, uint32_t dataLength)
      : disk_(disk),
        p_(profile),
        id_(identity),
        dataIn_(dataIn),
        data_(data),
        length_(dataLength),
        perBlock_(SimLogicalBlockSize(disk) / kSector) {}

  Answer Run(const std::vector<uint8_t>& cdb) {
    switch (cdb[0]) {
      case 0x85:
      case 0xA1: return AtaPassThrough(cdb);
      case 0x42: return Unmap(cdb);
      case 0x93: return WriteSame16(cdb);
      case 0x12: return Inquiry(cdb);
      default: return Check(0x05, 0x20, 0x00);
    }
  }

 private:
  Answer Check(uint8_t key, uint8_t asc, uint8_t ascq) const {
    return {0x02, p_.descriptorSense ? SimDescriptorSense(key, asc, ascq) : SimFixedSense(key, asc, ascq)};
  }
  // The drive aborted the ATA command: ABORTED COMMAND, with the ATA registers where the format
  // has room for them.
  Answer AtaAbort() const {
    Answer a = Check(0x0B, 0x00, 0x00);
    if (p_.descriptorSense) AppendAtaReturn(a.sense, 0x04, 0x51);
    return a;
  }
  Answer AtaDone(bool ckCond) const {
    if (!ckCond || !p_.ckCondReplies) return {};
    Answer a = Check(p_.ckCondSenseKey, 0x00, 0x1D);  // ATA PASS THROUGH INFORMATION AVAILABLE
    if (p_.descriptorSense) AppendAtaReturn(a.sense, 0x00, 0x50);
    return a;
  }
  bool Out() const { return dataIn_ == sptd::SCSI_IOCTL_DATA_OUT; }
  bool In() const { return dataIn_ == sptd::SCSI_IOCTL_DATA_IN; }
  void Give(const std::vector<uint8_t>& bytes) const {
    if (data_) std::memcpy(data_, bytes.data(), std::min<size_t>(bytes.size(), length_));
  }
  // In drive sectors (ATA) or in the bridge's logical blocks (SCSI).
  bool Inside(uint64_t lba, uint64_t count) const {
    const uint64_t sectors = disk_.drive.Sectors();
    return lba <= sectors && count <= sectors - lba;
  }
  bool InsideBlocks(uint64_t lba, uint64_t count) const {
    const uint64_t blocks = disk_.drive.Sectors() / perBlock_;
    return lba <= blocks && count <= blocks - lba;
  }
  void TrimBlocks(uint64_t lba, uint64_t count, const char* command) const {
    TrimSectors(lba * perBlock_, count * perBlock_, command);
  }
  void TrimSectors(uint64_t lba, uint64_t count, const char* command) const {
    SimReleaseRange(disk_, p_, lba, count, command);
  }

  Answer AtaPassThrough(const std::vector<uint8_t>& cdb) {
    const bool is16 = cdb[0] == 0x85;
    if ((is16 && !p_.pt16) || (!is16 && !p_.pt12)) return Check(0x05, 0x20, 0x00);
    if (cdb.size() != (is16 ? 16u : 12u)) return Check(0x05, 0x24, 0x00);
    const uint8_t protocol = (cdb[1] >> 1) & 0x0F;
    const bool extend = is16 && (cdb[1] & 0x01);
    if (extend && !p_.extend) return Check(0x05, 0x24, 0x00);
    const uint8_t flags = cdb[2];
    const bool ckCond = flags & 0x20;
    const bool toHost = flags & 0x08;
    // T_LENGTH 2 with BYT_BLOK 1: COUNT names the transfer in 512-byte blocks.
    const bool countsBlocks = (flags & 0x03) == 2 && (flags & 0x04);
    const uint32_t features = is16 ? (extend ? cdb[3] << 8 : 0) | cdb[4] : cdb[3];
    const uint32_t count = is16 ? (extend ? cdb[5] << 8 : 0) | cdb[6] : cdb[4];
    const uint8_t command = is16 ? cdb[14] : cdb[9];
    const uint64_t bytes = countsBlocks ? uint64_t{count} * kSector : 0;

    if (command == 0xEC) {  // IDENTIFY DEVICE: PIO Data-In, one block
      if (protocol != 4 || !toHost || !In() || !countsBlocks || count != 1 || length_ != kSector)
        return Check(0x05, 0x24, 0x00);
      Give(id_.raw.size() == kSector ? id_.raw : SimIdentifyBlock(id_));
      return AtaDone(ckCond);
    }
    if (command != 0x06) return AtaAbort();
    // DATA SET MANAGEMENT.
    const bool protocolOk = (protocol == 6 && p_.protocolDma) || (protocol == 5 && p_.protocolPio);
    if (!protocolOk || toHost || !Out() || !countsBlocks || count == 0 || bytes != length_)
      return Check(0x05, 0x24, 0x00);
    if (!(features & 0x01) || !id_.trimSupported) return AtaAbort();
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    TByteReader r(std::span<const uint8_t>(data_, length_));
    for (size_t at = 0; at + 8 <= length_; at += 8) {
      const uint64_t entry = r.LE64(at);
      const uint64_t n = entry >> 48;
      const uint64_t lba = entry & 0x0000FFFFFFFFFFFFull;
      if (n == 0) continue;
      if (!Inside(lba, n)) return AtaAbort();  // ID NOT FOUND: nothing is released
      ranges.push_back({lba, n});
    }
    for (const auto& [lba, n] : ranges) TrimSectors(lba, n, "ATA DSM");
    return AtaDone(ckCond);
  }

  Answer Unmap(const std::vector<uint8_t>& cdb) {
    if (!p_.unmap) return Check(0x05, 0x20, 0x00);
    if (cdb.size() != 10) return Check(0x05, 0x24, 0x00);
    const uint32_t listLength = TByteReader(cdb).BE16(7);
    if (listLength == 0) return {};
    if (!Out() || listLength != length_ || !data_) return Check(0x05, 0x24, 0x00);
    if (listLength < 8) return Check(0x05, 0x1A, 0x00);  // PARAMETER LIST LENGTH ERROR
    TByteReader r(std::span<const uint8_t>(data_, length_));
    const uint32_t descBytes = r.BE16(2);
    if (descBytes % 16 || 8u + descBytes > listLength) return Check(0x05, 0x26, 0x00);
    const uint32_t n = descBytes / 16;
    if (p_.maxUnmapDescriptors && n > p_.maxUnmapDescriptors) return Check(0x05, 0x26, 0x00);
    uint64_t total = 0;
    for (uint32_t j = 0; j < n; ++j) {
      const uint64_t lba = r.BE64(8 + 16 * j);
      const uint64_t blocks = r.BE32(16 + 16 * j);
      if (!InsideBlocks(lba, blocks)) return Check(0x05, 0x21, 0x00);  // LBA OUT OF RANGE
      total += blocks;
    }
    if (p_.maxUnmapLbaCount && total > p_.maxUnmapLbaCount) return Check(0x05, 0x24, 0x00);
    for (uint32_t j = 0; j < n; ++j) {
      const uint64_t blocks = r.BE32(16 + 16 * j);
      if (blocks) TrimBlocks(r.BE64(8 + 16 * j), blocks, "UNMAP");
    }
    return {};
  }

  Answer WriteSame16(const std::vector<uint8_t>& cdb) {
    if (!p_.writeSameUnmap) return Check(0x05, 0x20, 0x00);
    if (cdb.size() != 16 || !(cdb[1] & 0x08)) return Check(0x05, 0x24, 0x00);  // only the UNMAP form
    TByteReader c(cdb);
    const uint64_t lba = c.BE64(2);
    const uint32_t blocks = c.BE32(10);
    // The data-out buffer is one logical block.
    if (blocks == 0 || !Out() || length_ != perBlock_ * kSector || !data_) return Check(0x05, 0x24, 0x00);
    if (!InsideBlocks(lba, blocks)) return Check(0x05, 0x21, 0x00);
    TrimBlocks(lba, blocks, "WRITE SAME(16)");
    return {};
  }

  Answer Inquiry(const std::vector<uint8_t>& cdb) {
    if (cdb.size() != 6 || !In()) return Check(0x05, 0x24, 0x00);
    const bool evpd = cdb[1] & 0x01;
    const uint16_t allocation = TByteReader(cdb).BE16(3);
    std::vector<uint8_t> page;
    if (evpd && cdb[2] == 0xB0 && p_.blockLimitsPage) {
      page.assign(64, 0);
      TByteWriter w(page);
      w.U8(1, p_.blockLimitsPageCode);
      w.BE16(2, 0x3C);                     // PAGE LENGTH
      w.BE32(20, p_.maxUnmapLbaCount);     // MAXIMUM UNMAP LBA COUNT
      w.BE32(24, p_.maxUnmapDescriptors);  // MAXIMUM UNMAP BLOCK DESCRIPTOR COUNT
    } else if (!evpd && cdb[2] == 0) {
      page.assign(36, ' ');
      page[0] = 0x00;  // direct-access block device
      page[1] = 0x00;
      page[2] = 0x06;  // SPC-4
      page[3] = 0x02;
      page[4] = 31;
      page[5] = page[6] = page[7] = 0;
      std::memcpy(&page[8], "SIM     ", 8);
      std::memcpy(&page[16], id_.model.data(), std::min<size_t>(16, id_.model.size()));
      std::memcpy(&page[32], id_.firmware.data(), std::min<size_t>(4, id_.firmware.size()));
    } else {
      return Check(0x05, 0x24, 0x00);
    }
    page.resize(std::min<size_t>(page.size(), allocation));
    Give(page);
    return {};
  }

  SimDisk& disk_;
  const SimBridgeProfile& p_;
  const SimIdentity& id_;
  uint8_t dataIn_;
  uint8_t* data_;
  uint32_t length_;
  uint64_t perBlock_;  // drive sectors per logical block
};

void PutAtaText(std::vector<uint8_t>& block, size_t offset, size_t chars, const std::string& text) {
  for (size_t i = 0; i < chars; ++i) {
    const char c = i < text.size() ? text[i] : ' ';
    // Two characters per word, the first in the word's high byte.
    block[offset + (i ^ 1)] = static_cast<uint8_t>(c);
  }
}

}  // namespace

std::vector<uint8_t> SimIdentifyBlock(const SimIdentity& id) {
  std::vector<uint8_t> b(512, 0);
  PutAtaText(b, 20, 20, id.serial);   // words 10-19
  PutAtaText(b, 46, 8, id.firmware);  // words 23-26
  PutAtaText(b, 54, 40, id.model);    // words 27-46
  TByteWriter w(b);
  w.LE16(2 * 169, id.trimSupported ? 0x0001 : 0x0000);
  w.LE16(2 * 217, id.rotationRate);
  return b;
}

std::vector<uint8_t> SimFixedSense(uint8_t key, uint8_t asc, uint8_t ascq) {
  std::vector<uint8_t> s(18, 0);
  s[0] = 0x70;
  s[2] = key & 0x0F;
  s[7] = 10;  // additional sense length
  s[12] = asc;
  s[13] = ascq;
  return s;
}

std::vector<uint8_t> SimDescriptorSense(uint8_t key, uint8_t asc, uint8_t ascq) {
  std::vector<uint8_t> s(8, 0);
  s[0] = 0x72;
  s[1] = key & 0x0F;
  s[2] = asc;
  s[3] = ascq;
  return s;
}

bool SimStorageStackTrims(SimDisk& disk) {
  std::lock_guard<std::mutex> lk(disk.mu);
  return disk.bridge.identity.trimSupported && disk.bridge.profile.storageTrimError == 0;
}

void SimStorageStackRelease(SimDisk& disk, const std::vector<std::pair<uint64_t, uint64_t>>& sectors,
                            const char* command) {
  SimBridgeProfile profile;
  {
    std::lock_guard<std::mutex> lk(disk.mu);
    profile = disk.bridge.profile;
  }
  for (const auto& [lba, count] : sectors)
    if (count) SimReleaseRange(disk, profile, lba, count, command);
}

SimBridgeProfile SimBridgeProfile::FullSat() { return {}; }

SimBridgeProfile SimBridgeProfile::BotAtaOnly() {
  SimBridgeProfile p;
  p.name = "BOT, ATA pass-through only";
  p.unmap = false;
  p.writeSameUnmap = false;
  p.blockLimitsPage = false;
  p.storageTrimError = ERROR_INVALID_FUNCTION;
  return p;
}

SimBridgeProfile SimBridgeProfile::UasUnmap(uint32_t maxLbaCount, uint32_t maxDescriptors) {
  SimBridgeProfile p;
  p.name = "UAS with UNMAP";
  p.maxUnmapLbaCount = maxLbaCount;
  p.maxUnmapDescriptors = maxDescriptors;
  p.descriptorSense = true;
  return p;
}

SimBridgeProfile SimBridgeProfile::Uas4Kn() {
  SimBridgeProfile p = UasUnmap(0, 0);
  p.name = "UAS with UNMAP, 4096-byte blocks";
  p.logicalBlockSize = 4096;
  return p;
}

SimBridgeProfile SimBridgeProfile::NoTrim() {
  SimBridgeProfile p;
  p.name = "no TRIM path";
  p.pt16 = p.pt12 = false;
  p.unmap = false;
  p.writeSameUnmap = false;
  p.blockLimitsPage = false;
  p.storageTrimError = ERROR_INVALID_FUNCTION;
  return p;
}

struct SimBridge::Impl {
  std::mutex mu;
  std::vector<SimRequestRecord> requests;
};

SimBridge::SimBridge(SimStorage& storage, SimVolumeLocks* locks)
    : storage_(storage), locks_(locks), impl_(std::make_unique<Impl>()) {
  storage_.RegisterIoctl(IOCTL_SCSI_PASS_THROUGH_DIRECT, [this](SimDeviceCall& c) { return PassThrough(c); });
  storage_.RegisterIoctl(IOCTL_STORAGE_MANAGE_DATA_SET_ATTRIBUTES,
                         [this](SimDeviceCall& c) { return StorageTrim(c); });
  storage_.AddOpenCheck([this](const std::string& path, const std::shared_ptr<SimDisk>& disk, bool volume) {
    return CheckOpen(path, disk, volume);
  });
}

SimBridge::~SimBridge() = default;

void SimBridge::SetProfile(int disk, SimBridgeProfile profile) {
  auto d = storage_.Disk(disk);
  if (!d) return;
  std::lock_guard<std::mutex> lk(d->mu);
  d->logicalBlockSize = profile.logicalBlockSize;
  d->bridge.profile = std::move(profile);
}

void SimBridge::SetLogicalBlockSize(int disk, uint32_t bytes) {
  auto d = storage_.Disk(disk);
  if (!d) return;
  std::lock_guard<std::mutex> lk(d->mu);
  d->logicalBlockSize = bytes;
}

void SimBridge::SetIdentity(int disk, SimIdentity identity) {
  auto d = storage_.Disk(disk);
  if (!d) return;
  std::lock_guard<std::mutex> lk(d->mu);
  d->bridge.identity = std::move(identity);
}

void SimBridge::SetIdentifyDelay(int disk, uint32_t ms) {
  auto d = storage_.Disk(disk);
  if (!d) return;
  std::lock_guard<std::mutex> lk(d->mu);
  d->bridge.identity.answerDelayMs = ms;
}

void SimBridge::AddFault(int disk, SimFault fault) {
  auto d = storage_.Disk(disk);
  if (!d) return;
  std::lock_guard<std::mutex> lk(d->mu);
  d->bridge.faults.Add(fault.command, fault, std::move(static_cast<SimOutcome&>(fault)));
}

void SimBridge::ClearFaults(int disk) {
  auto d = storage_.Disk(disk);
  if (!d) return;
  std::lock_guard<std::mutex> lk(d->mu);
  d->bridge.faults.Clear();
}

std::vector<SimRequestRecord> SimBridge::Requests() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->requests;
}

void SimBridge::ClearRequests() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->requests.clear();
}

DWORD SimBridge::CheckOpen(const std::string& /*path*/, const std::shared_ptr<SimDisk>& disk, bool volume) {
  if (!disk) return 0;
  auto f = TakeFault(*disk, volume ? SimCommand::VolumeOpen : SimCommand::Open);
  return f && f->kind == SimFaultKind::WinError ? f->winError : 0;
}

namespace {

std::string CallPath(const SimDeviceCall& call) {
  if (call.volume) return std::string("\\\\.\\") + call.volume->letter + ":";
  std::lock_guard<std::mutex> lk(call.disk->mu);
  return DiskPath(call.disk->number);
}

uint64_t SatMul(uint64_t a, uint64_t b) { return b && a > UINT64_MAX / b ? UINT64_MAX : a * b; }
uint64_t SatAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// The drive sectors a raw UNMAP or WRITE SAME(16) names, read as Windows sees them, before the
// bridge checks anything: (first sector, count).
std::vector<std::pair<uint64_t, uint64_t>> RawTrimSectors(const SimRequestRecord& rec, uint64_t perBlock,
                                                          uint64_t driveSectors) {
  std::vector<std::pair<uint64_t, uint64_t>> r;
  auto add = [&](uint64_t lba, uint64_t blocks) {
    if (blocks) r.push_back({SatMul(lba, perBlock), SatMul(blocks, perBlock)});
  };
  if (rec.command == SimCommand::Unmap && rec.cdb.size() == 10 && rec.data.size() >= 8) {
    TByteReader h(rec.data);
    const size_t listed = std::min<size_t>(h.BE16(2), rec.data.size() - 8);
    for (size_t at = 8; at + 16 <= 8 + listed; at += 16) add(h.BE64(at), h.BE32(at + 8));
  } else if (rec.command == SimCommand::WriteSame16 && rec.cdb.size() == 16) {
    TByteReader c(rec.cdb);
    const uint64_t lba = c.BE64(2);
    const uint64_t blocks = c.BE32(10);
    // A count of 0 names every block to the end of the medium.
    const uint64_t first = SatMul(lba, perBlock);
    if (blocks)
      add(lba, blocks);
    else if (first < driveSectors)
      r.push_back({first, driveSectors - first});
  }
  return r;
}

}  // namespace

bool SimBridge::InMountedVolume(SimDisk& disk, const std::vector<std::pair<uint64_t, uint64_t>>& sectors) {
  int number;
  {
    std::lock_guard<std::mutex> lk(disk.mu);
    number = disk.number;
  }
  for (const auto& v : storage_.Volumes()) {
    std::vector<SimExtent> extents;
    char letter;
    {
      std::lock_guard<std::mutex> lk(v->mu);
      if (v->fileSystemName.empty()) continue;  // raw: nothing mounted
      extents = v->extents;
      letter = v->letter;
    }
    bool overlaps = false;
    for (const auto& e : extents) {
      if (e.diskNumber != number) continue;
      const uint64_t first = e.startingOffset / kSector;
      const uint64_t end = (e.startingOffset + e.length) / kSector;
      for (const auto& [lba, count] : sectors)
        if (lba < end && SatAdd(lba, count) > first) overlaps = true;
    }
    if (overlaps && !(locks_ && locks_->LockedOrDismounted(letter))) return true;
  }
  return false;
}

BOOL SimBridge::PassThrough(SimDeviceCall& call) {
  if (!call.disk) return Fail(ERROR_INVALID_FUNCTION);
  SimRequestRecord rec;
  rec.path = CallPath(call);
  rec.code = call.code;
  rec.outSize = call.outSize;
  const auto* in = static_cast<const uint8_t*>(call.in);
  if (in) rec.in.assign(in, in + call.inSize);
  const bool shaped = in && call.inSize >= sptd::kHeaderSize;
  if (shaped) {
    TByteReader r(rec.in);
    rec.length = r.LE16(sptd::kLength);
    rec.cdbLength = r.U8(sptd::kCdbLength);
    rec.senseInfoLength = r.U8(sptd::kSenseInfoLength);
    rec.dataIn = r.U8(sptd::kDataIn);
    rec.dataTransferLength = r.LE32(sptd::kDataTransferLength);
    rec.timeOutValue = r.LE32(sptd::kTimeOutValue);
    rec.dataBuffer = r.LE64(sptd::kDataBuffer);
    rec.senseInfoOffset = r.LE32(sptd::kSenseInfoOffset);
    const size_t n = std::min<size_t>(rec.cdbLength, sptd::kCdbMax);
    rec.cdb.assign(rec.in.begin() + sptd::kCdb, rec.in.begin() + static_cast<long>(sptd::kCdb + n));
    rec.command = Classify(rec.cdb);
    auto* data = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(rec.dataBuffer));
    if (data && rec.dataIn == sptd::SCSI_IOCTL_DATA_OUT) rec.data.assign(data, data + rec.dataTransferLength);
  }
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->requests.push_back(rec);
  }

  // What Windows checks before the request reaches the device.
  if (!shaped || !call.out || call.outSize < sptd::kHeaderSize) return Fail(ERROR_INVALID_PARAMETER);
  if (rec.length != sptd::kHeaderSize || rec.cdbLength == 0 || rec.cdbLength > sptd::kCdbMax || rec.dataIn > 2)
    return Fail(ERROR_INVALID_PARAMETER);
  if (rec.senseInfoLength && uint64_t{rec.senseInfoOffset} + rec.senseInfoLength > call.outSize)
    return Fail(ERROR_INVALID_PARAMETER);
  if (rec.dataTransferLength && !rec.dataBuffer) return Fail(ERROR_NOACCESS);
  if ((call.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE))
    return Fail(ERROR_ACCESS_DENIED);
  if (rec.command == SimCommand::Unmap || rec.command == SimCommand::WriteSame16) {
    SimRawTrimPolicy policy;
    {
      std::lock_guard<std::mutex> lk(call.disk->mu);
      policy = call.disk->bridge.profile.mountedVolumeRawTrim;
    }
    const uint64_t perBlock = SimLogicalBlockSize(*call.disk) / kSector;
    if (policy == SimRawTrimPolicy::RefuseAccessDenied &&
        InMountedVolume(*call.disk, RawTrimSectors(rec, perBlock, call.disk->drive.Sectors())))
      return Fail(ERROR_ACCESS_DENIED);
  }

  auto* out = static_cast<uint8_t*>(call.out);
  if (out != in) std::memcpy(out, in, sptd::kHeaderSize);
  auto reply = [&](const Answer& a) {
    out[sptd::kScsiStatus] = a.status;
    const size_t n = std::min<size_t>(a.sense.size(), rec.senseInfoLength);
    if (n) std::memcpy(out + rec.senseInfoOffset, a.sense.data(), n);
    call.SetReturned(call.outSize);
    return TRUE_;
  };

  const uint64_t limitMs = uint64_t{rec.timeOutValue} * 1000;
  if (auto f = TakeFault(*call.disk, rec.command)) {
    bool answerStatus = false;
    if (!storage_.CarryOut(call.disk.get(), *f, limitMs, &answerStatus)) return FALSE_;
    if (answerStatus) return reply({f->scsiStatus, f->sense});
  }

  SimBridgeProfile profile;
  SimIdentity identity;
  {
    std::lock_guard<std::mutex> lk(call.disk->mu);
    profile = call.disk->bridge.profile;
    identity = call.disk->bridge.identity;
  }
  if (rec.command == SimCommand::Identify && identity.answerDelayMs) {
    if (!storage_.CarryOut(call.disk.get(), SimOutcome::Delay(identity.answerDelayMs), limitMs)) return FALSE_;
  }
  auto* data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(rec.dataBuffer));
  Decoder decoder(*call.disk, profile, identity, rec.dataIn, data, rec.dataTransferLength);
  return reply(decoder.Run(rec.cdb));
}

BOOL SimBridge::StorageTrim(SimDeviceCall& call) {
  SimRequestRecord rec;
  rec.path = call.disk || call.volume ? CallPath(call) : std::string();
  rec.code = call.code;
  rec.outSize = call.outSize;
  rec.command = SimCommand::StorageTrim;
  const auto* in = static_cast<const uint8_t*>(call.in);
  if (in) rec.in.assign(in, in + call.inSize);
  {
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->requests.push_back(rec);
  }
  if (!call.disk) return Fail(ERROR_INVALID_FUNCTION);
  if (!(call.access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  if (auto f = TakeFault(*call.disk, SimCommand::StorageTrim))
    if (!storage_.CarryOut(call.disk.get(), *f)) return FALSE_;  // a SCSI status: ERROR_IO_DEVICE
  DWORD refusal;
  {
    std::lock_guard<std::mutex> lk(call.disk->mu);
    refusal = call.disk->bridge.profile.storageTrimError;
  }
  if (!SimStorageStackTrims(*call.disk)) return Fail(refusal ? refusal : ERROR_INVALID_FUNCTION);

  TByteReader r(rec.in);
  if (rec.in.size() < dsm::kAttributesSize || r.LE32(dsm::kSize) != dsm::kAttributesSize)
    return Fail(ERROR_INVALID_PARAMETER);
  if (r.LE32(dsm::kAction) != dsm::DeviceDsmAction_Trim) return Fail(ERROR_NOT_SUPPORTED);
  const uint64_t rangesAt = r.LE32(dsm::kRangesOffset);
  const uint64_t rangesLength = r.LE32(dsm::kRangesLength);
  if (rangesLength % dsm::kRangeSize || rangesAt % 8 || rangesAt + rangesLength > rec.in.size())
    return Fail(ERROR_INVALID_PARAMETER);

  // The byte space of what was opened: a volume's extents in order, or the whole disk.
  std::vector<SimExtent> extents;
  int number;
  {
    std::lock_guard<std::mutex> lk(call.disk->mu);
    number = call.disk->number;
  }
  if (call.volume) {
    std::lock_guard<std::mutex> lk(call.volume->mu);
    extents = call.volume->extents;
  } else {
    extents.push_back({number, 0, call.disk->drive.Sectors() * kSector});
  }
  uint64_t total = 0;
  for (const auto& e : extents) total += e.length;

  struct Piece {
    std::shared_ptr<SimDisk> disk;
    uint64_t lba, count;
  };
  std::vector<Piece> pieces;
  for (uint64_t at = rangesAt; at < rangesAt + rangesLength; at += dsm::kRangeSize) {
    const int64_t start = static_cast<int64_t>(r.LE64(at + dsm::kRangeStartingOffset));
    const uint64_t length = r.LE64(at + dsm::kRangeLengthInBytes);
    if (start < 0 || start % kSector || length % kSector || static_cast<uint64_t>(start) > total ||
        length > total - static_cast<uint64_t>(start))
      return Fail(ERROR_INVALID_PARAMETER);
    uint64_t pos = static_cast<uint64_t>(start), rest = length, base = 0;
    for (const auto& e : extents) {
      if (rest && pos < base + e.length) {
        const uint64_t take = std::min(rest, base + e.length - pos);
        auto d = e.diskNumber == number ? call.disk : storage_.Disk(e.diskNumber);
        if (!d) return Fail(ERROR_DEVICE_NOT_CONNECTED);
        pieces.push_back({d, (e.startingOffset + pos - base) / kSector, take / kSector});
        pos += take;
        rest -= take;
      }
      base += e.length;
    }
  }
  for (const auto& p : pieces) SimStorageStackRelease(*p.disk, {{p.lba, p.count}}, "STORAGE TRIM");
  call.SetReturned(0);
  return TRUE_;
}

}  // namespace plat::sim
