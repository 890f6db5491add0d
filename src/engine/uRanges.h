// Sorting and merging of block-range arrays, shared by the bitmap reader and the planner.
#pragma once

#include <cstdint>

#include "core/uTypes.h"

// True when bit (Index mod 8) of byte (Index div 8) is 1, least significant bit first.
bool BitmapBitIsSet(const uint8_t* Bitmap, int64_t Index);

// Sorts Ranges[Lo..Hi] in place by StartLba (unsigned).
void QuickSortRanges(TTrimRangeArray& Ranges, int32_t Lo, int32_t Hi);

// A new array: sorted by start, empty ranges dropped, overlapping and touching ranges merged.
// Long ranges are not split.
TTrimRangeArray NormalizeRanges(const TTrimRangeArray& Ranges);
