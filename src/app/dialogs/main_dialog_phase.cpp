// The main dialog's allowed steps, as one table.
#include "app/dialogs/main_dialog_phase.h"

struct MainTransition {
  MainPhase from;
  MainStep step;
  MainPhase to;
};

static const MainTransition transitions[] = {
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

MainPhase MainPhaseAfter(MainPhase from, MainStep step) {
  for (const MainTransition &transition : transitions)
    if (transition.from == from && transition.step == step) return transition.to;
  return MainPhase::Invalid;
}
