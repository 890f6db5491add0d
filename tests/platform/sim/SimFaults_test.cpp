// The machine's fault vocabulary: which calls a trigger hits, how a list of faults counts the
// calls aimed at it, and the random picker's draws.
#include "platform/sim/SimFaults.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/sim/SimFaultPicker.h"

using namespace plat;
using namespace plat::sim;

namespace {

std::string Hits(SimTrigger t, int calls = 6) {
  std::string s;
  for (int c = 1; c <= calls; ++c) s += t.Hits(c) ? 'x' : '.';
  return s;
}

TEST(SimFaults, ATriggerHitsFromItsNthCallAsManyTimesAsItSays) {
  struct Case {
    SimTrigger when;
    const char* hits;
  };
  for (const Case& c : {Case{{}, "xxxxxx"}, Case{{.nth = 2}, ".x...."}, Case{{.nth = 1, .times = 2}, "xx...."},
                        Case{{.nth = 3, .times = -1}, "..xxxx"}, Case{{.nth = 2, .times = 0}, "......"}})
    EXPECT_EQ(Hits(c.when), c.hits) << c.when.nth << "/" << c.when.times;
}

// Every fault aimed at a call counts it, also when an earlier one hits it; the first set wins.
TEST(SimFaults, EachFaultCountsTheCallsAimedAtItAndTheFirstSetThatHitsWins) {
  SimFaultList<char> list;
  auto take = [&](char aim) {
    auto o = list.Take([aim](char a) { return a == aim; });
    return o ? o->winError : DWORD{0};
  };
  EXPECT_EQ(take('A'), 0u);  // before any fault: counted by none
  list.Add('A', {.nth = 2}, SimOutcome::Error(5));
  list.Add('A', {.nth = 1, .times = 2}, SimOutcome::Error(6));
  list.Add('B', {}, SimOutcome::Error(7));
  EXPECT_EQ(take('A'), 6u);
  EXPECT_EQ(take('A'), 5u);
  EXPECT_EQ(take('B'), 7u);
  EXPECT_EQ(take('A'), 0u);
  list.Clear();
  EXPECT_EQ(take('B'), 0u);
}

TEST(SimFaults, ThePickerDrawsTheSameFaultsFromASeedAndHangsOnlyWhereTheyEnd) {
  auto draw = [](uint64_t seed, bool cancelComes, int* asked) {
    SimRandom r{seed};
    SimFaultChoice choice;
    choice.cancelComes = cancelComes;
    choice.newcomer = [asked] {
      ++*asked;
      return std::shared_ptr<SimDisk>();
    };
    std::string all;
    for (int i = 0; i < 400; ++i) {
      const SimFault f = PickBridgeFault(r, choice);
      all += DescribeFault(f);
      if (f.kind == SimFaultKind::HangForever) {
        EXPECT_EQ(f.command, SimCommand::AtaDsm);
      }
      if (!cancelComes) {
        EXPECT_NE(f.kind, SimFaultKind::HangUntilCancel);
      }
    }
    return all;
  };
  int asked = 0, again = 0;
  const std::string first = draw(42, false, &asked);
  EXPECT_EQ(draw(42, false, &again), first);
  EXPECT_EQ(again, asked);
  EXPECT_GT(asked, 0);  // some departures bring a newcomer
  EXPECT_NE(draw(43, false, &again), first);
  EXPECT_NE(draw(42, true, &again).find("kind=3"), std::string::npos);  // a hang until cancelled
  EXPECT_EQ(first.find("kind=3"), std::string::npos);
}

}  // namespace
