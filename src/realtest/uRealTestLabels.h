// What the real test shows in the window's four labels, for the room the window keeps for it.
#pragma once

#include <string>
#include <vector>

// Every text the test thread shows in the labels after their prefixes, each as wide as it gets
// (digits in turn as every digit, so whichever the font draws widest is among them), in the
// current language. Its steps' words, speeds up to four digits of MB/s and times up to 99 hours:
// a longer value widens its label when it comes.
struct TRealTestLabelTexts {
  std::vector<std::string> Status;
  std::vector<std::string> Speed;
  std::vector<std::string> Elapsed;  // the step's elapsed time too
};
TRealTestLabelTexts RealTestLabelTexts();
