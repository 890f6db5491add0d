// created_files.csv and deleted_files.csv: set up once in step 1, one row per file as step 1
// writes it and as step 2 is about to delete it. Each row opens, appends and closes its file.
#include "core/uFileWrite.h"
#include "core/uFormat.h"
#include "core/uLang.h"
#include "device/uDeviceHandle.h"
#include "platform/Platform.h"
#include "realtest/uFileMap.h"
#include "realtest/uRealTrimTest.h"

using namespace plat;

namespace {

// Appends Text to the end of an existing file; throws EFileError when that fails.
void AppendToFile(const std::string& Path, const std::string& Text) {
  TDeviceHandle h(
      Win().CreateFileW(Path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  if (!h.Valid()) {
    const DWORD err = Win().GetLastError();
    throw EFileError(Format("Cannot open file \"%s\" (winerr=%d)", Path, err), err);
  }
  DWORD written = 0;
  if (!Win().WriteFile(h.Get(), Text.data(), static_cast<DWORD>(Text.size()), &written) ||
      written != Text.size()) {
    const DWORD err = Win().GetLastError();
    throw EFileError(Format("Cannot write file \"%s\" (winerr=%d)", Path, err), err);
  }
}

}  // namespace

bool TRealTrimTestThread::GetFileSectorSpan(const std::string& Path, uint64_t& First, uint64_t& Last) {
  First = 0;
  Last = 0;
  // Sectors count from the volume the file is on, never from another volume of the disk.
  const TVolumeInfo* v = VolumeOfPath(FDisk, Path);
  if (!v) {
    Win().SetLastError(ERROR_NOT_FOUND);
    return false;
  }
  return GetFileSectorRange(Path, SectorGeometryOf(*v), First, Last);
}

void TRealTrimTestThread::CreateFileMapCsvs() {
  const std::string dir = OutputDir();
  if (dir.empty()) {
    FCreatedCsv.clear();
    FDeletedCsv.clear();
    return;
  }
  FCreatedCsv = dir + "created_files.csv";
  FDeletedCsv = dir + "deleted_files.csv";
  auto create = [this](std::string& Path, const char* Header, TTextId FailText) {
    std::string error;
    try {
      WriteWholeFile(Path, std::string(Header) + "\r\n");
    } catch (const std::exception& e) {
      error = e.what();
    }
    if (error.empty()) {
      PostLog(GetLangText(TTextId::CsvCreatedPrefix) + Path);
    } else {
      PostLog(GetLangText(FailText) + error);
      Path.clear();
    }
  };
  create(FCreatedCsv, kCreatedCsvHeader, TTextId::CsvCreateFailedCreatedPrefix);
  create(FDeletedCsv, kDeletedCsvHeader, TTextId::CsvCreateFailedDeletedPrefix);
}

void TRealTrimTestThread::AppendCreatedRow(const TTestFileInfo& Info, int32_t Index) {
  if (FCreatedCsv.empty()) return;
  uint64_t first = 0, last = 0;
  if (!GetFileSectorSpan(Info.FileName, first, last)) {
    const DWORD err = Win().GetLastError();
    PostLog(Format(GetLangText(TTextId::CsvLookupFailedFmt), Index, Info.FileName, err));
    return;
  }
  std::string error;
  try {
    AppendToFile(FCreatedCsv, CreatedCsvRow(Index, Info.FileName, first, last));
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!error.empty()) PostLog(GetLangText(TTextId::CsvWriteFailed) + "(created): " + error);
}

void TRealTrimTestThread::AppendDeletedRow(const TTestFileInfo& Info, int32_t Index) {
  if (FDeletedCsv.empty()) return;
  uint64_t first = 0, last = 0;
  GetFileSectorSpan(Info.FileName, first, last);  // a failed lookup writes 0 and 0
  std::string error;
  try {
    AppendToFile(FDeletedCsv, DeletedCsvRow(Index, Info.FileName, first, last));
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!error.empty()) PostLog(GetLangText(TTextId::CsvWriteFailed) + "(deleted): " + error);
}
