// Where the common controls would come from, judged before the program
// makes its first window. The manifest binds comctl32 through the
// activation context, before any search folder; a configuration file
// planted beside the program can redirect that binding to a private copy.
#pragma once

enum ControlsBindingVerdict {
  CONTROLS_FROM_SYSTEM = 0,  // no redirection: System32's copy
  CONTROLS_FROM_STORE = 1,   // the side-by-side store under the Windows folder
  CONTROLS_REFUSED = -1,     // anywhere else, or the binding could not be read
};

// Reads the binding through the seam and judges it; a refusal is traced
// (FATAL, with the path). Loads nothing and shows nothing.
ControlsBindingVerdict CheckControlsBinding();
