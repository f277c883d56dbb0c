// Where the main dialog is between the user, the module and the worker.
//
// The allowed steps (anything else is a fault in the dialog's logic):
//
//   Polling   --PollStarted-->     PollOut    a poll asks the module, off the interface thread
//   PollOut   --PollEnded-->       Polling    its report is in and its thread has ended
//   Polling   --ChecksStarted-->   ChecksOut  OK with a module: the checks ask it
//   ChecksOut --ChecksPassed-->    Warning    the warning box is up
//   Warning   --WarningAccepted--> Updating   the worker runs behind the progress dialog
//   Warning   --WarningDeclined--> Polling    the dialog stays, its poll stopped
//   Polling   --Ended-->           Ending     Cancel, or OK without a module
//   ChecksOut --Ended-->           Ending     a check refused the update
//   Updating  --Ended-->           Ending     the run is over
//
// OK and Cancel are served only while Polling. While PollOut OK is greyed
// and refused, and Cancel waits for the poll's report (giving up the wait
// for a restarted module's port). In every other phase a command is
// refused: the boxes and dialogs of an OK press run message loops of their
// own, through which a second press would otherwise start a second run.
#pragma once

enum class MainPhase {
  Polling,
  PollOut,
  ChecksOut,
  Warning,
  Updating,
  Ending,
  Invalid,  // no phase: the step is not allowed from where the dialog is
};

enum class MainStep {
  PollStarted,
  PollEnded,
  ChecksStarted,
  ChecksPassed,
  WarningAccepted,
  WarningDeclined,
  Ended,
};

// The phase `step` leads to from `from`; MainPhase::Invalid when the table
// above does not allow it.
MainPhase MainPhaseAfter(MainPhase from, MainStep step);
