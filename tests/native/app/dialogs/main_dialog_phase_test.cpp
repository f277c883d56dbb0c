// The main dialog's steps between its phases: every allowed one leads
// where the table at the top of main_dialog_phase.h says, and every other
// pair of phase and step is refused.
#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "app/dialogs/main_dialog_phase.h"

namespace {

struct Transition {
  MainPhase from;
  MainStep step;
  MainPhase to;
};

const Transition allowed[] = {
    {MainPhase::Polling, MainStep::PollStarted, MainPhase::PollOut},
    {MainPhase::PollOut, MainStep::PollEnded, MainPhase::Polling},
    {MainPhase::Polling, MainStep::ChecksStarted, MainPhase::ChecksOut},
    {MainPhase::ChecksOut, MainStep::ChecksPassed, MainPhase::Warning},
    {MainPhase::Warning, MainStep::WarningAccepted, MainPhase::Updating},
    {MainPhase::Warning, MainStep::WarningDeclined, MainPhase::Polling},
    {MainPhase::Polling, MainStep::Ended, MainPhase::Ending},
    {MainPhase::ChecksOut, MainStep::Ended, MainPhase::Ending},
    {MainPhase::Updating, MainStep::Ended, MainPhase::Ending},
};

const MainPhase phases[] = {MainPhase::Polling, MainPhase::PollOut, MainPhase::ChecksOut, MainPhase::Warning,
                            MainPhase::Updating, MainPhase::Ending, MainPhase::Invalid};
const MainStep steps[] = {MainStep::PollStarted,     MainStep::PollEnded,       MainStep::ChecksStarted,
                          MainStep::ChecksPassed,    MainStep::WarningAccepted, MainStep::WarningDeclined,
                          MainStep::Ended};

TEST(MainDialogPhase, EveryPairOfPhaseAndStepLeadsWhereTheTableSays) {
  std::map<std::pair<MainPhase, MainStep>, MainPhase> expected;
  for (const Transition &t : allowed) expected[{t.from, t.step}] = t.to;
  for (MainPhase from : phases)
    for (MainStep step : steps) {
      auto found = expected.find({from, step});
      MainPhase want = found == expected.end() ? MainPhase::Invalid : found->second;
      EXPECT_EQ(MainPhaseAfter(from, step), want) << "from " << (int)from << " by step " << (int)step;
    }
}

// Nothing leaves the end, and a poll or the checks being out lets no
// second helper start and no end happen under it.
TEST(MainDialogPhase, NoStepLeavesTheEndOrEndsUnderAThreadThatIsOut) {
  for (MainStep step : steps) EXPECT_EQ(MainPhaseAfter(MainPhase::Ending, step), MainPhase::Invalid);
  for (MainPhase out : {MainPhase::PollOut, MainPhase::ChecksOut}) {
    EXPECT_EQ(MainPhaseAfter(out, MainStep::PollStarted), MainPhase::Invalid);
    EXPECT_EQ(MainPhaseAfter(out, MainStep::ChecksStarted), MainPhase::Invalid);
  }
  EXPECT_EQ(MainPhaseAfter(MainPhase::PollOut, MainStep::Ended), MainPhase::Invalid);
}

}  // namespace
