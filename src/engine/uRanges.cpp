#include "engine/uRanges.h"

#include <utility>

bool BitmapBitIsSet(const uint8_t* Bitmap, int64_t Index) {
  const uint64_t i = static_cast<uint64_t>(Index);
  return ((Bitmap[i >> 3] >> (i & 7)) & 1) != 0;
}

void QuickSortRanges(TTrimRangeArray& Ranges, int32_t Lo, int32_t Hi) {
  // Hoare partition; recursion goes into the smaller side so that sorted or adversarial input
  // cannot exhaust the stack.
  while (Lo < Hi) {
    const uint64_t Pivot = Ranges[static_cast<size_t>(Lo + (Hi - Lo) / 2)].StartLba;
    int32_t i = Lo;
    int32_t j = Hi;
    do {
      while (Ranges[static_cast<size_t>(i)].StartLba < Pivot) ++i;
      while (Pivot < Ranges[static_cast<size_t>(j)].StartLba) --j;
      if (i <= j) {
        std::swap(Ranges[static_cast<size_t>(i)], Ranges[static_cast<size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - Lo < Hi - i) {
      if (Lo < j) QuickSortRanges(Ranges, Lo, j);
      Lo = i;
    } else {
      if (i < Hi) QuickSortRanges(Ranges, i, Hi);
      Hi = j;
    }
  }
}

TTrimRangeArray NormalizeRanges(const TTrimRangeArray& Ranges) {
  TTrimRangeArray Sorted = Ranges;
  if (Sorted.size() > 1) QuickSortRanges(Sorted, 0, static_cast<int32_t>(Sorted.size() - 1));

  TTrimRangeArray Result;
  Result.reserve(Sorted.size());
  for (const TTrimRange& R : Sorted) {
    if (R.SectorCount == 0) continue;
    // A range whose end does not fit 64 bits is cut at the top of the address space rather
    // than wrapped round to block 0.
    const uint64_t REnd = R.StartLba + R.SectorCount < R.StartLba ? UINT64_MAX : R.StartLba + R.SectorCount;
    if (!Result.empty()) {
      TTrimRange& L = Result.back();
      const uint64_t LEnd = L.StartLba + L.SectorCount;
      if (LEnd >= R.StartLba) {
        if (REnd > LEnd) L.SectorCount = REnd - L.StartLba;
        continue;
      }
    }
    Result.push_back({R.StartLba, REnd - R.StartLba});
  }
  return Result;
}
