#include "core/uFormatSettings.h"

#include "base/uUtf.h"
#include "platform/Platform.h"

namespace {
TFormatSettings gSettings;

// Empty or unreadable: keep the default. Windows allows at most a few characters here.
void ReadLocaleText(plat::DWORD LcType, std::string& Target) {
  char16_t buf[16] = {};
  const int n = plat::Win().GetLocaleInfoW(plat::LOCALE_USER_DEFAULT, LcType, buf, 16);
  if (n <= 0) return;
  std::string v = Utf16ToUtf8(U16FromBuffer(buf, static_cast<size_t>(n)));
  if (!v.empty()) Target = v;
}
}  // namespace

void InitFormatSettings() {
  TFormatSettings s;
  ReadLocaleText(plat::LOCALE_SDECIMAL, s.DecimalSeparator);
  ReadLocaleText(plat::LOCALE_STHOUSAND, s.ThousandSeparator);
  ReadLocaleText(plat::LOCALE_STIME, s.TimeSeparator);
  gSettings = s;
}

const TFormatSettings& GetFormatSettings() { return gSettings; }

void SetFormatSettings(const TFormatSettings& Settings) { gSettings = Settings; }

const TFormatSettings& PlainFormatSettings() {
  static const TFormatSettings kPlain;
  return kPlain;
}
