// The test files' content stream, seeds and hashes, against values computed outside the code
// under test; the fast generator and the block-wise check against plain reference loops.
#include "realtest/uTestContent.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

// The generator and the hash written out the slow way, as the reference.
TBytes RefStream(uint32_t Seed, size_t N) {
  uint32_t s = Seed & 0x7FFFFFFF;
  if (s == 0) s = 1;
  TBytes out;
  while (out.size() < N) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    for (int i = 0; i < 4 && out.size() < N; ++i) out.push_back(static_cast<uint8_t>(s >> (8 * i)));
  }
  return out;
}

uint32_t RefFnv(const TBytes& B) {
  uint32_t h = 2166136261u;
  for (uint8_t b : B) h = (h ^ b) * 16777619u;
  return h;
}

TEST(TestContent, StreamFromStateOneAndAShortTail) {
  uint8_t buf[16];
  uint32_t state = 1;
  FillRandom(buf, 16, state);
  const TBytes want = {0x21, 0x20, 0x04, 0x00, 0x01, 0x06, 0x08, 0x04,
                       0xc5, 0xa8, 0xcc, 0x9d, 0x4f, 0x99, 0x55, 0x12};
  EXPECT_EQ(TBytes(buf, buf + 16), want);

  // Six bytes end in the low half of the second word; the next call skips its other half.
  uint8_t six[6], next[4];
  state = 1;
  FillRandom(six, 6, state);
  EXPECT_EQ(TBytes(six, six + 6), (TBytes{0x21, 0x20, 0x04, 0x00, 0x01, 0x06}));
  FillRandom(next, 4, state);
  EXPECT_EQ(TBytes(next, next + 4), (TBytes{0xc5, 0xa8, 0xcc, 0x9d}));

  // Nothing for a count of 0 or less, and a state of 0 runs as 1.
  state = 0;
  FillRandom(buf, 0, state);
  EXPECT_EQ(state, 0u);
  FillRandom(buf, 4, state);
  EXPECT_EQ(TBytes(buf, buf + 4), (TBytes{0x21, 0x20, 0x04, 0x00}));
}

TEST(TestContent, SeedsOfPaths) {
  // djb2 of the UTF-8 bytes, computed by a separate script.
  const struct {
    const char* Path;
    uint32_t Seed;
  } cases[] = {
      {"E:\\trim_real_test\\file_0.bin", 0xfb731ad0u},
      {"e:\\trim_real_test\\file_0.bin", 0x4ef306f0u},  // the case of the drive letter counts
      {"F:\\trim_real_test\\file_0.bin", 0x7e0f1a31u},
      {"E:\\trim_real_test\\batch_1\\file_1000.bin", 0xcb581aafu},
      {"E:\\trim_real_test\\dumy\\gig_7.bin", 0x13d969c9u},
      {"D:\\trim_real_test\\\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB_1.bin", 0x993ebf99u},  // "файл_1.bin"
  };
  for (const auto& c : cases) EXPECT_EQ(NameSeed(c.Path), c.Seed) << c.Path;
  EXPECT_EQ(StateFromSeed(0x80000000u), 1u);
  EXPECT_EQ(StateFromSeed(0xFFFFFFFFu), 0x7FFFFFFFu);
}

TEST(TestContent, ExpectedHashesOfSizesAndSeeds) {
  const struct {
    uint32_t Seed;
    int64_t Size;
    uint32_t Hash;
  } cases[] = {
      {1, 0, 0x811c9dc5u},
      {1, 1, 0x240c8decu},
      {1, 6, 0x204917afu},
      {1, 4096, 0xb9eb92beu},
      {0xfb731ad0u, 65539, 0x72b0b5b3u},
      {0x80000000u, 10, 0x02aa245eu},       // low 31 bits 0: state 1
      {0x13d969c9u, 4194309, 0x8a6ccbe2u},  // one whole 4 MiB block and a 5-byte tail
  };
  for (const auto& c : cases) EXPECT_EQ(ExpectedHash(c.Size, c.Seed), c.Hash) << c.Seed << " " << c.Size;
  EXPECT_EQ(ExpectedHash(-5, 1), kFnvOffsetBasis);
  EXPECT_EQ(kMissingFileHash, 0x7EE3623Au);
  EXPECT_NE(kMissingFileHash, ExpectedHash(0, 1));
}

TEST(TestContent, FastGeneratorMatchesThePlainOneAcrossRounds) {
  // Long enough for several rounds of the parallel chains plus a ragged end.
  for (size_t n : {size_t(4), size_t(65536), size_t(65540), size_t(3 * 65536 + 12), size_t(4194304)}) {
    TBytes got(n);
    uint32_t state = 12345;
    FillRandom(got.data(), static_cast<int32_t>(n), state);
    const TBytes want = RefStream(12345, n);
    ASSERT_EQ(got, want) << n;
    // The state is the last word, so the stream goes on where it stopped.
    uint8_t next[4];
    FillRandom(next, 4, state);
    const TBytes longer = RefStream(12345, n + 4);
    EXPECT_EQ(TBytes(next, next + 4), TBytes(longer.end() - 4, longer.end()));
  }
}

TEST(TestContent, StreamPiecesOfAnyLengthJoinUp) {
  const size_t total = 200000;
  const TBytes want = RefStream(777, total);
  std::mt19937 rng(5);
  TContentStream s(777);
  TBytes got(total);
  for (size_t at = 0; at < total;) {
    size_t n = std::min<size_t>(total - at, rng() % 3 == 0 ? rng() % 9 : rng() % 70000);
    s.Next(got.data() + at, n);
    at += n;
  }
  EXPECT_EQ(got, want);
}

// Feeds File to a check of (Size, Seed) in blocks of Block bytes.
bool CheckFile(const TBytes& File, int64_t Size, uint32_t Seed, size_t Block) {
  TContentCheck c;
  c.Reset(Size, Seed);
  for (size_t at = 0; at < File.size(); at += Block) c.Feed(File.data() + at, std::min(Block, File.size() - at));
  return c.Finish();
}

TEST(TestContent, BlockCheckAgreesWithComparingTheTwoHashesAndTheLength) {
  const uint32_t seed = 0xC0FFEE;
  const size_t size = 1048576 * 2 + 6;
  const TBytes good = RefStream(seed, size);
  auto flipped = [&](size_t at) {
    TBytes b = good;
    b[at] ^= 0x40;
    return b;
  };
  const struct {
    const char* Name;
    TBytes File;
    int64_t Size;
  } cases[] = {
      {"intact", good, static_cast<int64_t>(size)},
      {"first byte", flipped(0), static_cast<int64_t>(size)},
      {"in the second block", flipped(1048576 + 17), static_cast<int64_t>(size)},
      {"last byte", flipped(size - 1), static_cast<int64_t>(size)},
      {"one byte short", TBytes(good.begin(), good.end() - 1), static_cast<int64_t>(size)},
      {"ends at a block edge", TBytes(good.begin(), good.begin() + 1048576), static_cast<int64_t>(size)},
      {"cut inside a word", RefStream(seed, 1048576 + 3), static_cast<int64_t>(size)},
      {"one byte long", RefStream(seed, size + 1), static_cast<int64_t>(size)},
      {"empty file", TBytes{}, static_cast<int64_t>(size)},
      {"empty size, empty file", TBytes{}, 0},
      {"empty size, some bytes", RefStream(seed, 10), 0},
      {"six bytes past its size", good, static_cast<int64_t>(size - 6)},
  };
  for (const auto& c : cases) {
    const bool want = static_cast<int64_t>(c.File.size()) == c.Size && ExpectedHash(c.Size, seed) == RefFnv(c.File);
    for (size_t block : {size_t(1048576), size_t(7), size_t(1) << 24})
      EXPECT_EQ(CheckFile(c.File, c.Size, seed, block), want) << c.Name << " block " << block;
  }
  EXPECT_TRUE(CheckFile(good, static_cast<int64_t>(size), seed, 1048576));
  EXPECT_FALSE(CheckFile(flipped(5), static_cast<int64_t>(size), seed, 1048576));
}

TEST(TestContent, AFileOfAnotherLengthFailsWithoutTheRestOfItsStream) {
  // Listed far above what it holds (1 GiB, 1 MiB read), or longer than listed: failed once it
  // has ended, and no piece of the expected stream was generated beyond what was read.
  const uint32_t seed = 4242;
  const TBytes head = RefStream(seed, 1048576 + 8);
  for (const int64_t listed : {int64_t(1) << 30, int64_t(1048576)}) {
    TContentCheck c;
    int asked = 0;
    c.SetStopCheck([&] {
      ++asked;
      return false;
    });
    c.Reset(listed, seed);
    c.Feed(head.data(), 1048576);
    if (listed == 1048576) c.Feed(head.data() + 1048576, 8);
    EXPECT_FALSE(c.Finish()) << listed;
    EXPECT_FALSE(c.Stopped()) << listed;
    EXPECT_EQ(asked, 0) << listed;
  }
}

TEST(TestContent, AStopEndsTheHashOfALongCommonPart) {
  // A 6 MiB file that differs at 5 MiB: the hash of its first 5 MiB is computed in 4 MiB
  // pieces, and a stop asked for before the second ends the check there.
  const uint32_t seed = 77;
  TBytes file(6 << 20);
  TContentStream(seed).Next(file.data(), file.size());
  file[(5 << 20) + 5] ^= 1;
  TContentCheck c;
  int asked = 0;
  c.SetStopCheck([&] { return ++asked == 2; });
  c.Reset(static_cast<int64_t>(file.size()), seed);
  for (size_t at = 0; at < file.size(); at += 1048576) c.Feed(file.data() + at, 1048576);
  EXPECT_TRUE(c.Stopped());
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(c.Finish());
  // Without a stop the same file is a plain mismatch, and a new check starts unstopped.
  c.SetStopCheck(nullptr);
  c.Reset(static_cast<int64_t>(file.size()), seed);
  for (size_t at = 0; at < file.size(); at += 1048576) c.Feed(file.data() + at, 1048576);
  EXPECT_FALSE(c.Stopped());
  EXPECT_FALSE(c.Finish());
}

TEST(TestContent, HashCollisionStillPassesAsTheHashesSay) {
  // Build a 64-byte file that differs from the stream but has its hash: the hash after 56
  // bytes meets, in the middle, the hash reached backwards from the target through 4 bytes.
  const uint32_t seed = 99;
  const TBytes want = RefStream(seed, 64);
  const uint32_t target = RefFnv(want);
  uint32_t inv = kFnvPrime;
  for (int i = 0; i < 5; ++i) inv *= 2 - kFnvPrime * inv;
  ASSERT_EQ(inv * kFnvPrime, 1u);
  const uint32_t at56 = Fnv1aUpdate(kFnvOffsetBasis, want.data(), 56);

  std::unordered_map<uint32_t, uint32_t> forward;  // hash after 60 bytes -> bytes 56..59
  for (uint32_t y = 0; y < (1u << 17); ++y) {
    uint8_t yb[4] = {uint8_t(y), uint8_t(y >> 8), uint8_t(y >> 16), 0x5A};
    forward.emplace(Fnv1aUpdate(at56, yb, 4), y);
  }
  TBytes file;
  for (uint32_t x = 0; x < (1u << 22) && file.empty(); ++x) {
    const uint8_t xb[4] = {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)};
    uint32_t h = target;
    for (int i = 3; i >= 0; --i) h = (h * inv) ^ xb[i];
    auto it = forward.find(h);
    if (it == forward.end()) continue;
    const uint32_t y = it->second;
    file.assign(want.begin(), want.begin() + 56);
    for (uint8_t b : {uint8_t(y), uint8_t(y >> 8), uint8_t(y >> 16), uint8_t(0x5A)}) file.push_back(b);
    for (uint8_t b : xb) file.push_back(b);
  }
  ASSERT_FALSE(file.empty());
  ASSERT_NE(file, want);
  ASSERT_EQ(RefFnv(file), target);
  EXPECT_TRUE(CheckFile(file, 64, seed, 16));
  EXPECT_TRUE(CheckFile(file, 64, seed, 64));
}

}  // namespace
