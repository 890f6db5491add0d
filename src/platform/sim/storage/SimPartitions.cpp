#include "platform/sim/storage/SimPartitions.h"

#include <cstring>

#include "platform/WinDisk.h"
#include "platform/sim/kernel/SimKernel.h"
#include "platform/sim/storage/SimStorage.h"

namespace plat::sim {

namespace {

BOOL Fail(DWORD e) {
  SimSetLastError(e);
  return FALSE_;
}

int NumberOf(SimDisk& disk) {
  std::lock_guard<std::mutex> lk(disk.mu);
  return disk.number;
}

}  // namespace

SimPartitions::SimPartitions(SimStorage& storage) : storage_(storage) {
  storage_.RegisterIoctl(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, [this](SimDeviceCall& c) { return DriveLayout(c); });
  storage_.RegisterIoctl(IOCTL_DISK_CREATE_DISK, [this](SimDeviceCall& c) { return CreateDisk(c); });
  storage_.RegisterIoctl(IOCTL_DISK_GET_PARTITION_INFO_EX, [this](SimDeviceCall& c) { return PartitionInfo(c); });
}

SimPartitions::~SimPartitions() = default;

SimPartitionLayout SimPartitions::Layout(int disk) {
  auto d = storage_.Disk(disk);
  if (!d) return {};
  return ReadPartitionLayout(d->drive, SimLogicalBlockSize(*d));
}

BOOL SimPartitions::DriveLayout(SimDeviceCall& call) {
  if (call.volume || !call.disk) return Fail(ERROR_INVALID_FUNCTION);
  const std::vector<uint8_t> answer =
      DriveLayoutAnswer(ReadPartitionLayout(call.disk->drive, SimLogicalBlockSize(*call.disk)));
  if (!call.out || call.outSize < answer.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(call.out, answer.data(), answer.size());
  call.SetReturned(static_cast<DWORD>(answer.size()));
  return TRUE_;
}

BOOL SimPartitions::CreateDisk(SimDeviceCall& call) {
  if (call.volume || !call.disk) return Fail(ERROR_INVALID_FUNCTION);
  if ((call.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE))
    return Fail(ERROR_ACCESS_DENIED);
  if (!call.in || call.inSize < sizeof(CREATE_DISK)) return Fail(ERROR_BAD_LENGTH);
  CREATE_DISK request;
  std::memcpy(&request, call.in, sizeof request);
  SimDrive& drive = call.disk->drive;
  const uint32_t bs = SimLogicalBlockSize(*call.disk);
  bool written = false;
  switch (request.PartitionStyle) {
    case PARTITION_STYLE_MBR: written = WriteMbrLayout(drive, bs, request.Mbr.Signature, {}); break;
    case PARTITION_STYLE_GPT:
      written = WriteGptLayout(drive, bs, request.Gpt.DiskId, request.Gpt.MaxPartitionCount, {});
      break;
    case PARTITION_STYLE_RAW: written = EraseLayout(drive, bs); break;
    default: return Fail(ERROR_INVALID_PARAMETER);
  }
  if (!written) return Fail(ERROR_INVALID_PARAMETER);  // a disk too small for the table
  // The partitions are gone, and with them the volumes Windows had mounted on them.
  const int number = NumberOf(*call.disk);
  for (const auto& v : storage_.Volumes()) {
    bool onDisk = false;
    char letter;
    {
      std::lock_guard<std::mutex> lk(v->mu);
      letter = v->letter;
      for (const auto& e : v->extents) onDisk = onDisk || e.diskNumber == number;
    }
    if (onDisk) storage_.RemoveVolume(letter);
  }
  call.SetReturned(0);
  return TRUE_;
}

BOOL SimPartitions::PartitionInfo(SimDeviceCall& call) {
  if (!call.disk) return Fail(ERROR_INVALID_FUNCTION);
  if (!call.out || call.outSize < sizeof(PARTITION_INFORMATION_EX)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  const SimPartitionLayout layout = ReadPartitionLayout(call.disk->drive, SimLogicalBlockSize(*call.disk));
  PARTITION_INFORMATION_EX info{};
  if (!call.volume) {
    SimPartitionEntry whole;
    whole.blocks = layout.diskBlocks;
    info = PartitionInformation(layout, whole);
  } else {
    SimExtent extent;
    {
      std::lock_guard<std::mutex> lk(call.volume->mu);
      if (!call.volume->extents.empty()) extent = call.volume->extents.front();
    }
    const SimPartitionEntry* match = nullptr;
    for (const auto& e : layout.entries)
      if (e.number != 0 && e.firstLba * layout.blockSize == extent.startingOffset) match = &e;
    if (match) {
      info = PartitionInformation(layout, *match);
    } else {
      info.PartitionStyle = PARTITION_STYLE_RAW;
      info.StartingOffset = static_cast<LONGLONG>(extent.startingOffset);
      info.PartitionLength = static_cast<LONGLONG>(extent.length);
    }
  }
  std::memcpy(call.out, &info, sizeof info);
  call.SetReturned(sizeof info);
  return TRUE_;
}

}  // namespace plat::sim
