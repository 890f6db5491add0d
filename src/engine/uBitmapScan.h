// Word-wise scanning of cluster bitmaps (bit k of byte k/8, least significant first, 1 = in use).
// Whole 64-bit words are tested at once and words with nothing to find are skipped, so a scan
// costs about one pass over the bitmap's bytes however the clusters are laid out.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace bitscan {

// The 64 bits of word W of a bitmap of Bytes bytes; bytes past the end read as 0.
inline uint64_t LoadWord(const uint8_t* Bits, uint64_t Bytes, uint64_t W) {
  const uint64_t At = W * 8;
  uint8_t Tmp[8] = {};
  const uint8_t* Src = Bits + At;
  if (At + 8 > Bytes) {
    std::memcpy(Tmp, Src, static_cast<size_t>(Bytes - At));
    Src = Tmp;
  }
  uint64_t V = 0;
  for (int i = 7; i >= 0; --i) V = (V << 8) | Src[i];  // little-endian, whatever the host
  return V;
}

// The first bit index in [Pos, End) whose value is Want, or End. End <= Bytes * 8.
inline uint64_t FindNext(const uint8_t* Bits, uint64_t Bytes, uint64_t Pos, uint64_t End, bool Want) {
  if (Pos >= End) return End;
  const uint64_t Flip = Want ? 0 : ~uint64_t(0);
  uint64_t W = Pos >> 6;
  uint64_t X = (LoadWord(Bits, Bytes, W) ^ Flip) & (~uint64_t(0) << (Pos & 63));
  for (;;) {
    if (X != 0) {
      const uint64_t P = W * 64 + static_cast<uint64_t>(std::countr_zero(X));
      return P < End ? P : End;
    }
    ++W;
    if (W * 64 >= End) return End;
    X = LoadWord(Bits, Bytes, W) ^ Flip;
  }
}

// The highest bit index in [Pos, End) that is set, or -1.
inline int64_t FindLastSet(const uint8_t* Bits, uint64_t Bytes, uint64_t Pos, uint64_t End) {
  if (Pos >= End) return -1;
  uint64_t W = (End - 1) >> 6;
  const unsigned TopBits = static_cast<unsigned>(((End - 1) & 63) + 1);
  uint64_t X = LoadWord(Bits, Bytes, W);
  if (TopBits < 64) X &= (uint64_t(1) << TopBits) - 1;
  for (;;) {
    if (W == (Pos >> 6)) X &= ~uint64_t(0) << (Pos & 63);
    if (X != 0) return static_cast<int64_t>(W * 64 + 63 - static_cast<uint64_t>(std::countl_zero(X)));
    if (W == (Pos >> 6)) return -1;
    --W;
    X = LoadWord(Bits, Bytes, W);
  }
}

}  // namespace bitscan

// Turns consecutive bitmap chunks into runs of free clusters. A run open at the end of one chunk
// goes on in the next when that chunk starts where the last one ended; anything else ends it.
class TFreeRunScanner {
 public:
  // Clusters FirstLcn .. FirstLcn + Count - 1 are bits FirstBit .. FirstBit + Count - 1 of Bits
  // (Bytes long). Emit(StartLcn, Clusters) is called for every run that ends inside the chunk.
  template <class TEmit>
  void Scan(const uint8_t* Bits, uint64_t Bytes, uint64_t FirstBit, uint64_t Count, uint64_t FirstLcn,
            TEmit&& Emit) {
    if (FInRun && FirstLcn != FRunStart + FRunLen) Finish(Emit);
    const uint64_t End = FirstBit + Count;
    uint64_t Pos = FirstBit;
    while (Pos < End) {
      if (FInRun) {
        const uint64_t Used = bitscan::FindNext(Bits, Bytes, Pos, End, true);
        FRunLen += Used - Pos;
        Pos = Used;
        if (Pos < End) Finish(Emit);
      } else {
        const uint64_t Free = bitscan::FindNext(Bits, Bytes, Pos, End, false);
        if (Free < End) {
          FInRun = true;
          FRunStart = FirstLcn + (Free - FirstBit);
          FRunLen = 0;
        }
        Pos = Free;
      }
    }
  }

  // Emits the run still open, if any.
  template <class TEmit>
  void Finish(TEmit&& Emit) {
    if (FInRun && FRunLen > 0) Emit(FRunStart, FRunLen);
    FInRun = false;
    FRunLen = 0;
  }

 private:
  bool FInRun = false;
  uint64_t FRunStart = 0;
  uint64_t FRunLen = 0;
};
