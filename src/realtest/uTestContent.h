// The content of the real test's files and its hashes.
//
// A test file's content is never stored: it is the byte stream of an xorshift32 generator
// (shifts 13, 17, 5) seeded from the file's full path, so it can be produced again at any time
// from the path and the size. Hashes are FNV-1a 32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

constexpr uint32_t kFnvOffsetBasis = 0x811C9DC5u;  // 2166136261
constexpr uint32_t kFnvPrime = 16777619u;
// What FileHash gives for a file that does not exist: unlike the hash of an empty file.
constexpr uint32_t kMissingFileHash = ~kFnvOffsetBasis;
static_assert(kMissingFileHash == 0x7EE3623Au);

// djb2 over the bytes of the full path as written (UTF-8; drive letter and case included).
uint32_t NameSeed(std::string_view Path);
// The generator state a seed starts: its low 31 bits, 0 becoming 1.
uint32_t StateFromSeed(uint32_t Seed);

// The next Count bytes of a stream: each generator word stored least significant byte first.
// A Count that is not a multiple of 4 stores the low bytes of one more word and skips the rest
// of it, so only the last piece of a stream may have such a length.
void FillRandom(uint8_t* Buffer, int32_t Count, uint32_t& State);

uint32_t Fnv1aUpdate(uint32_t Hash, const uint8_t* Buffer, size_t Count);
// The hash a file of Size bytes with this seed must have: FNV-1a over the first Size bytes of
// the seed's stream (the offset basis for Size 0).
uint32_t ExpectedHash(int64_t Size, uint32_t Seed);

// The stream of one seed, byte-exact however it is cut into pieces.
class TContentStream {
 public:
  explicit TContentStream(uint32_t Seed) : FState(StateFromSeed(Seed)) {}
  void Next(uint8_t* Out, size_t Count);

 private:
  uint32_t FState;
  uint8_t FCarry[4] = {};  // the unused high bytes of the last word begun
  uint8_t FCarryAt = 0, FCarryEnd = 0;
};

// Decides, block by block as a file is read, whether the file is the expected content of a
// size and a seed. A file whose length is not that size fails (it is not what was written);
// a file of that length passes exactly when its hash equals ExpectedHash(Size, Seed).
//
// Both FNV-1a chains are serial multiplies, slower than reading a fast drive. While the file
// agrees byte for byte with the expected stream no hash is needed (equal bytes give equal
// hashes); at the first difference the hash of the common part is computed once from the
// stream, and from there both chains run side by side over each block. So a hash collision
// still passes, as it does with the two hashes.
class TContentCheck {
 public:
  // Asked between the pieces of the one long computation, the hash of the common part (a
  // second or more for a late difference in a 1 GiB file): true ends the check as stopped.
  void SetStopCheck(std::function<bool()> Stop) { FStop = std::move(Stop); }
  void Reset(int64_t Size, uint32_t Seed);
  // The next bytes of the file, in order.
  void Feed(const uint8_t* Data, size_t Count);
  // The file has ended: true when it is the expected content (false once stopped).
  bool Finish();
  // A stop ended the check before its outcome was known.
  bool Stopped() const { return FStopped; }

 private:
  // Takes both chains to the state after the first Length bytes, which file and stream share.
  void StartHashes(uint64_t Length);

  std::function<bool()> FStop;
  uint64_t FSize = 0;
  uint32_t FSeed = 0;
  TContentStream FStream{0};
  uint64_t FFed = 0;  // file bytes seen, and stream bytes generated
  bool FDiverged = false;
  bool FTooLong = false;  // more bytes came than the size
  bool FStopped = false;
  uint32_t FExpected = kFnvOffsetBasis, FActual = kFnvOffsetBasis;
  std::vector<uint8_t> FScratch;
};
