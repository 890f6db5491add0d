// The test files: writing, filling, deleting every tenth, verifying, and finding the files a
// former test left. Every write and read bypasses the system's file cache (unbuffered and
// written through, from the thread's sector-aligned buffer), so a verification reads what the
// drive holds and the speeds are the drive's.
#include <algorithm>
#include <cstdint>

#include "core/uFileWrite.h"
#include "core/uFormat.h"
#include "core/uLang.h"
#include "core/uLogger.h"
#include "device/uDeviceHandle.h"
#include "platform/Platform.h"
#include "realtest/uFileMap.h"
#include "realtest/uRealTrimTest.h"

using namespace plat;

namespace {

constexpr DWORD kWriteFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH;
constexpr DWORD kReadFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING;

uint64_t Tick() { return Win().GetTickCount64(); }

// A test file's first block is written last: until then it holds the complement of its content,
// so a file cut short in any way (a stop or a write error whose removal failed, a crash, a disk
// that left the bus) never verifies as intact. One sector of any drive the test meets.
constexpr DWORD kHeadBytes = 4096;

std::string ErrorText(DWORD Err) { return Format("%s (winerr=%d)", WinErrorText(Err), Err); }

// "gig_<n>.bin" with n a plain decimal from 0 to 2^31 - 2, so the next number still fits.
bool GigNumber(const std::string& Name, int32_t& N) {
  std::string rest = Name.size() > 4 ? Name.substr(4) : std::string();
  const size_t dot = rest.rfind('.');
  if (dot != std::string::npos) rest.resize(dot);
  if (rest.empty() || rest.size() > 10) return false;
  int64_t v = 0;
  for (char c : rest) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > 2147483646) return false;
  N = static_cast<int32_t>(v);
  return true;
}

}  // namespace

void TRealTrimTestThread::AddTestFile(const TTestFileInfo& Info, bool IsGig) {
  (IsGig ? FGigFiles : FFiles).push_back(Info);
}

bool TRealTrimTestThread::WriteTestFile(const TTestFileInfo& Info) {
  uint32_t state = StateFromSeed(Info.Seed);
  TDeviceHandle h(Win().CreateFileW(Info.FileName, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, kWriteFlags));
  if (!h.Valid()) {
    const DWORD err = Win().GetLastError();
    PostLog(GetLangText(TTextId::FileCreateFailedPrefix) + Info.FileName + " | " +
            Format("Cannot create file \"%s\": %s", Info.FileName, ErrorText(err)));
    return false;
  }
  const uint64_t t0 = Tick();
  const uint64_t waited0 = FDropWaitMs;
  int64_t remaining = Info.Size;
  uint8_t head[kHeadBytes];
  DWORD headBytes = 0;
  auto failWrite = [&](DWORD Written, DWORD Wanted) {
    const DWORD err = Win().GetLastError();
    const std::string why =
        err != 0 ? ErrorText(err) : Format("%u of %u bytes written", static_cast<uint32_t>(Written), Wanted);
    PostLog(GetLangText(TTextId::WriteFailedPrefix) + Info.FileName + " | " + why);
    RemoveUnfinishedFile(h, Info.FileName);
    return false;
  };
  while (remaining > 0) {
    if (StopRequested()) {
      RemoveUnfinishedFile(h, Info.FileName);
      return false;
    }
    const DWORD n = static_cast<DWORD>(std::min<int64_t>(remaining, kWriteBlockBytes));
    FillRandom(FBuffer.get(), static_cast<int32_t>(n), state);
    if (remaining == Info.Size) {
      headBytes = std::min(n, kHeadBytes);
      std::copy_n(FBuffer.get(), headBytes, head);
      for (DWORD i = 0; i < headBytes; ++i) FBuffer[i] = static_cast<uint8_t>(~FBuffer[i]);
    }
    DWORD written = 0;
    if (!Win().WriteFile(h.Get(), FBuffer.get(), n, &written) || written != n) return failWrite(written, n);
    AccountBytes(static_cast<int32_t>(n));
    remaining -= n;
  }
  // The head goes last, from the aligned buffer as unbuffered writes need it: now the file is whole.
  std::copy_n(head, headBytes, FBuffer.get());
  DWORD written = 0;
  if (headBytes > 0 &&
      (!Win().WriteFileAt(h.Get(), FBuffer.get(), headBytes, &written, 0) || written != headBytes))
    return failWrite(written, headBytes);
  AccountBytes(static_cast<int32_t>(headBytes));  // the drive wrote them: they count in its speed
  FStepBytesWritten += static_cast<uint64_t>(Info.Size);
  // A speed-drop wait inside the file is no time spent writing.
  FStepWriteMs += (Tick() - t0) - (FDropWaitMs - waited0);
  return true;
}

void TRealTrimTestThread::RemoveUnfinishedFile(TDeviceHandle& Handle, const std::string& Path) {
  // Closed first: Windows does not remove a file this thread still holds open.
  Handle.Close();
  if (Win().DeleteFileW(Path)) {
    PostLog("Unfinished test file removed: " + Path);
    return;
  }
  const DWORD err = Win().GetLastError();
  // Its head was never written, so no verification passes what is left.
  PostLog("Unfinished test file could not be removed; no verification passes it: " + Path + " | " +
          ErrorText(err));
}

bool TRealTrimTestThread::FillWithFiles(int64_t Target, int64_t FileSize, bool IsGig) {
  bool result = true;
  int64_t written = 0;
  int32_t i = 0;
  const char* prefix = IsGig ? "gig_" : "file_";
  // The speed window opens with the writing: step 1's flush and TRIM before it are no transfer,
  // and would make its first sample (and the average the drop rule compares with) read low.
  FSampleBytes = 0;
  FSampleStartTick = Tick();
  while (written < Target && !StopRequested()) {
    // Step 3 writes exactly its target, never past it: its last file is cut to the bytes left,
    // in whole 4096-byte blocks as unbuffered writes need them.
    const int64_t size = IsGig ? std::min(FileSize, (Target - written) / 4096 * 4096) : FileSize;
    if (size <= 0) break;
    std::string folder;
    int32_t number;
    if (IsGig) {
      folder = FFolder + "dumy\\";
      ForceDirectories(folder);
      number = FNextGigIndex;
    } else {
      if (i < 1000) {
        folder = FFolder;
      } else {
        folder = FFolder + Format("batch_%d\\", i / 1000);
        if (i % 1000 == 0) ForceDirectories(folder);
      }
      number = i;
    }
    TTestFileInfo info;
    info.FileName = folder + Format("%s%d.bin", prefix, number);
    info.Size = size;
    info.Seed = NameSeed(info.FileName);
    info.IsGig = IsGig;
    if (!WriteTestFile(info)) {
      result = false;
      break;
    }
    AddTestFile(info, IsGig);
    if (!IsGig && !FCreatedCsv.empty()) AppendCreatedRow(info, i);
    written += size;
    ++i;
    if (IsGig) {
      if (FNextGigIndex == INT32_MAX) break;  // no number left for another file
      ++FNextGigIndex;
    }
  }
  return result;
}

void TRealTrimTestThread::DeleteEveryTenth() {
  for (size_t p = 9; p < FFiles.size(); p += 10) {
    TTestFileInfo& e = FFiles[p];
    if (!e.FileName.empty() && FileExists(e.FileName)) {
      if (!FDeletedCsv.empty()) AppendDeletedRow(e, static_cast<int32_t>(p));
      Win().DeleteFileW(e.FileName);
    }
    e.FileName.clear();
    e.Size = 0;
  }
}

HANDLE TRealTrimTestThread::OpenForVerify(const std::string& Path) {
  HANDLE h = Win().CreateFileW(Path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, kReadFlags);
  if (!IsValidHandle(h)) {
    const DWORD err = Win().GetLastError();
    throw EFileError(Format("Cannot open file \"%s\": %s", Path, ErrorText(err)), err);
  }
  return h;
}

uint32_t TRealTrimTestThread::FileHash(const std::string& Path) {
  uint32_t hash = kFnvOffsetBasis;
  if (!FileExists(Path)) return kMissingFileHash;
  TDeviceHandle h(OpenForVerify(Path));
  for (;;) {
    if (StopRequested()) return hash;
    DWORD got = 0;
    if (!Win().ReadFile(h.Get(), FBuffer.get(), kReadBlockBytes, &got)) got = 0;  // a failed read ends the file
    if (got == 0) break;
    hash = Fnv1aUpdate(hash, FBuffer.get(), got);
    AccountBytes(static_cast<int32_t>(got));
  }
  return hash;
}

bool TRealTrimTestThread::FileMatches(const TTestFileInfo& Info, bool& Stopped) {
  Stopped = false;
  // No test file is empty: one that is was cut before its first block was written.
  if (Info.Size <= 0) return false;
  // The file went between the existence check and here: not the file that was written.
  if (!FileExists(Info.FileName)) return false;
  TDeviceHandle h(OpenForVerify(Info.FileName));
  FCheck.Reset(Info.Size, Info.Seed);
  for (;;) {
    if (StopRequested()) {
      Stopped = true;
      return false;
    }
    // Whole sectors are asked for; the last read of a file of any size brings what is left.
    DWORD got = 0;
    if (!Win().ReadFile(h.Get(), FBuffer.get(), kReadBlockBytes, &got)) got = 0;  // a failed read ends the file
    if (got == 0) break;
    FCheck.Feed(FBuffer.get(), got);
    if (FCheck.Stopped()) {
      Stopped = true;
      return false;
    }
    AccountBytes(static_cast<int32_t>(got));
  }
  return FCheck.Finish();
}

bool TRealTrimTestThread::VerifyList(const TTestFileArray& List) {
  FVerifyPassed = 0;
  FVerifyFailed = 0;
  bool result = true;
  for (const TTestFileInfo& e : List) {
    if (StopRequested()) break;
    if (e.FileName.empty()) continue;
    if (!FileExists(e.FileName)) {
      PostLog(GetLangText(TTextId::VerifyFileMissingPrefix) + e.FileName);
      ++FVerifyFailed;
      result = false;
      continue;
    }
    const uint64_t t0 = Tick();
    bool stopped = false;
    const bool match = FileMatches(e, stopped);
    const uint64_t t1 = Tick();
    if (stopped || StopRequested()) break;  // the file in progress is not counted
    FBytesRead += static_cast<uint64_t>(e.Size);
    FReadMs += t1 - t0;
    if (match) {
      ++FVerifyPassed;
    } else {
      PostLog(GetLangText(TTextId::VerifyCrcMismatchPrefix) + e.FileName);
      ++FVerifyFailed;
      result = false;
    }
  }
  return result;
}

std::string TRealTrimTestThread::VerifySummary() const {
  return Format(GetLangText(TTextId::VerifiedCountsFmt), FVerifyPassed + FVerifyFailed, FVerifyPassed,
                FVerifyFailed);
}

void TRealTrimTestThread::LoadExistingFiles() {
  FFiles.clear();
  auto addFrom = [this](const std::string& Folder) {
    for (const FIND_DATA& e : FindEntries(Folder + "file_*.bin")) {
      TTestFileInfo info;
      info.FileName = Folder + e.cFileName;
      info.Size = static_cast<int64_t>(e.nFileSize);
      info.Seed = NameSeed(info.FileName);
      AddTestFile(info, false);
    }
  };
  addFrom(FFolder);
  for (int32_t k = 1;; ++k) {
    const std::string sub = FFolder + Format("batch_%d\\", k);
    if (!DirectoryExists(sub)) break;
    addFrom(sub);
  }
}

void TRealTrimTestThread::LoadExistingGigFiles() {
  FGigFiles.clear();
  const std::string folder = FFolder + "dumy\\";
  for (const FIND_DATA& e : FindEntries(folder + "gig_*.bin")) {
    TTestFileInfo info;
    info.FileName = folder + e.cFileName;
    info.Size = static_cast<int64_t>(e.nFileSize);
    info.Seed = NameSeed(info.FileName);
    info.IsGig = true;
    AddTestFile(info, true);
  }
}

void TRealTrimTestThread::ScanGigIndex() {
  int32_t highest = -1;
  for (const FIND_DATA& e : FindEntries(FFolder + "dumy\\gig_*.bin")) {
    int32_t n;
    if (GigNumber(e.cFileName, n) && n > highest) highest = n;
  }
  FNextGigIndex = highest + 1;
  if (FNextGigIndex > 0) PostLog(Format(GetLangText(TTextId::Existing1GbFilesFmt), highest, FNextGigIndex));
}

bool TRealTrimTestThread::EnsureTestFolder() {
  ForceDirectories(FFolder);
  // A junction or symbolic link in the folder's place would take the test's files, and its
  // verdict, to whatever it leads to: another folder, or another volume than the chosen drive.
  const DWORD Attrs = Win().GetFileAttributesW(FFolder);
  if (Attrs != INVALID_FILE_ATTRIBUTES && (Attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
    PostLog("The test folder is a junction or symbolic link; the test does not write through it: " + FFolder);
    return false;
  }
  if (DirectoryExists(FFolder)) return true;
  PostLog(GetLangText(TTextId::CreateTestFolderFailedPrefix) + FFolder);
  return false;
}

bool TRealTrimTestThread::QueryFreeSpace(int64_t& Total, int64_t& Free) {
  ULONGLONG freeToCaller = 0, total = 0, totalFree = 0;
  Total = 0;
  Free = 0;
  if (!Win().GetDiskFreeSpaceExW(FFolder, &freeToCaller, &total, &totalFree)) return false;
  auto asSigned = [](ULONGLONG V) { return V >= (1ull << 63) ? int64_t(0) : static_cast<int64_t>(V); };
  Total = asSigned(total);
  Free = asSigned(freeToCaller);
  return true;
}
