// What the real test's four labels show during a test, after their prefixes: each list from the
// first value a test shows to the widest. The layout tests set them in every language.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "core/uFormat.h"
#include "core/uLang.h"
#include "ui/uMainForm.h"

struct TRealTestLabelValues {
  std::vector<std::string> Status, Speed, Elapsed, Step;

  size_t Rows() const { return std::max({Status.size(), Speed.size(), Elapsed.size(), Step.size()}); }
  // Row I of each list (a shorter list's last value past its end) shown in the window's labels.
  void Show(TMainForm& Form, size_t I) const {
    auto at = [I](const std::vector<std::string>& V) { return V[std::min(I, V.size() - 1)]; };
    Form.SetRealStatus(at(Status));
    Form.SetRealSpeed(at(Speed));
    Form.SetRealElapsed(at(Elapsed));
    Form.SetStepElapsed(at(Step));
  }
};

// In the current language.
inline TRealTestLabelValues RealTestLabelValues() {
  const std::vector<std::string> times = {"-", "0:00:00", "0:00:05", "0:59:59", "9:59:59", "10:00:00", "99:59:59"};
  return {{"Running", GetLangText(TTextId::RealTestPreparing), "STEP1 TRIM", "STEP1", "STEP2", "STEP3",
           GetLangText(TTextId::Step4Verify), GetLangText(TTextId::Step5Verify),
           Format(GetLangText(TTextId::WaitingFmt), 9, 59), Format(GetLangText(TTextId::WaitingFmt), 599, 59),
           GetLangText(TTextId::RealTestDone), "Verifying", GetLangText(TTextId::RealTestVerifying), "Idle"},
          {"-", Format("%.1f MB/s", 0.0), Format("%.1f MB/s", 123.4), Format("%.1f MB/s", 2594.6),
           Format("%.1f MB/s", 9999.9)},
          times,
          times};
}
