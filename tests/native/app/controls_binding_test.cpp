// The common controls' binding, judged before the first window: the
// side-by-side store or System32 let the run go on; a binding anywhere
// else, or one that cannot be read, ends it with 1 before any box, dialog
// or port, with a FATAL trace line that names the path.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/run_record.h"
#include "fakes/fake_all.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_dialog.h"
#include "fakes/fake_side_by_side.h"
#include "fakes/fake_ui.h"
#include "support/shared_texts.h"
#include "support/temp_files.h"
#include "support/test_run.h"
#include "support/trace_lines.h"

namespace {

const char refusedLog[] =
    "===FW upgrade started ===\r\r\n\r\r\nRESULT (1): Unknown error\r\r\n\r\r\n=== FW Update finished ===\r\r\n\r\r\n";
const char storeManifest[] =
    "C:\\Windows\\WinSxS\\Manifests\\amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0.19041.1110_none_"
    "60b5254171f9507e.manifest";
const char storeName[] = "amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0.19041.1110_none_60b5254171f9507e";
const char downloads[] = "C:\\Users\\ann\\Downloads\\Microsoft.Windows.Common-Controls";

struct BindingRow {
  const char *name;
  OsDllBindingKind kind;
  std::string manifest;
  std::string folder;
  unsigned long error;
  const char *windowsFolder;  // "": it cannot be read
  bool accepted;
  const char *traced;  // in the FATAL line of a refusal
};

const BindingRow bindingRows[] = {
    {"no redirection: System32", OS_DLL_NOT_REDIRECTED, "", "", 0, "C:\\Windows", true, ""},
    {"in the store", OS_DLL_REDIRECTED, storeManifest, storeName, 0, "C:\\Windows", true, ""},
    {"in the store, other case and slashes", OS_DLL_REDIRECTED,
     "c:/windows/winsxs/manifests/amd64_microsoft.windows.common-controls.manifest", storeName, 0, "C:\\WINDOWS",
     true, ""},
    {"in the store, extended-length path", OS_DLL_REDIRECTED, std::string("\\\\?\\") + storeManifest, storeName, 0,
     "C:\\Windows", true, ""},
    {"in the store of Windows on another drive", OS_DLL_REDIRECTED,
     "D:\\Win\\WinSxS\\Manifests\\amd64_microsoft.windows.common-controls.manifest", storeName, 0, "D:\\Win\\",
     true, ""},
    {"in the store, the context names no folder", OS_DLL_REDIRECTED, storeManifest, "", 0, "C:\\Windows", true, ""},
    {"in the program's folder", OS_DLL_REDIRECTED,
     std::string(downloads) + "\\Microsoft.Windows.Common-Controls.manifest", "", 0, "C:\\Windows", false,
     "Microsoft.Windows.Common-Controls.manifest"},
    {"in the program's folder, under a store's folder name", OS_DLL_REDIRECTED,
     std::string(downloads) + "\\Microsoft.Windows.Common-Controls.manifest", storeName, 0, "C:\\Windows", false,
     downloads},
    {"the program's folder named as the assembly's folder", OS_DLL_REDIRECTED, storeManifest, downloads, 0,
     "C:\\Windows", false, downloads},
    {"the store's manifest, a relative folder that climbs out", OS_DLL_REDIRECTED, storeManifest,
     "..\\..\\Users\\ann\\Downloads", 0, "C:\\Windows", false, "Downloads"},
    {"a manifest path that climbs out of the store", OS_DLL_REDIRECTED,
     "C:\\Windows\\WinSxS\\..\\..\\Users\\ann\\Downloads\\x.manifest", storeName, 0, "C:\\Windows", false,
     "Downloads\\x.manifest"},
    {"a folder beside the store with its name as a prefix", OS_DLL_REDIRECTED,
     "C:\\Windows\\WinSxSCopy\\Manifests\\x.manifest", storeName, 0, "C:\\Windows", false, "WinSxSCopy"},
    {"the store itself, no assembly folder", OS_DLL_REDIRECTED, "C:\\Windows\\WinSxS\\", "", 0, "C:\\Windows",
     false, "(no folder)"},
    {"a manifest in the store but outside its manifests, no folder", OS_DLL_REDIRECTED,
     "C:\\Windows\\WinSxS\\Temp\\x.manifest", "", 0, "C:\\Windows", false, "(no folder)"},
    {"the query fails", OS_DLL_QUERY_FAILED, "", "", 5, "C:\\Windows", false, "error 5"},
    {"the Windows folder cannot be read", OS_DLL_REDIRECTED, storeManifest, storeName, 0, "", false,
     "amd64_microsoft.windows.common-controls"},
};

class ControlsBindingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder.Enter()); }
  void TearDown() override { Reset(); }
  void Reset(const BindingRow *row = nullptr) {
    ResetAllFakes();
    RunRecordReset(&testRun);
    std::remove("C:\\FWLog.txt");
    if (row == nullptr) return;
    fakeSideBySide.kind = row->kind;
    fakeSideBySide.binding.manifest = row->manifest;
    fakeSideBySide.binding.folder = row->folder;
    fakeSideBySide.binding.error = row->error;
    fakeSideBySide.windowsFolder = row->windowsFolder;
  }
  static std::string Log() { return ReadBytes("C:\\FWLog.txt"); }

  TempFolder folder;
};

// An unknown option's boxes are the program's first windows: they come
// only after a binding the rule accepts.
TEST_F(ControlsBindingTest, OnlyTheStoreOrSystem32LetTheFirstBoxCome) {
  for (const BindingRow &row : bindingRows) {
    SCOPED_TRACE(row.name);
    Reset(&row);
    EXPECT_EQ(QuillonRun(&testRun, "-x"), 1);
    EXPECT_EQ(fakeSideBySide.lookups, std::vector<std::string>{"comctl32.dll"});
    if (row.accepted) {
      EXPECT_EQ(fakeUi.shown.size(), 2u) << "the unknown option's boxes";
      EXPECT_EQ(Log(), banner);
      EXPECT_TRUE(Messages("FATAL").empty());
      continue;
    }
    EXPECT_TRUE(fakeUi.shown.empty()) << "a box would load the redirected DLL";
    EXPECT_EQ(Log(), refusedLog);
    const std::vector<std::string> fatal = Messages("FATAL");
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_NE(fatal[0].find("comctl32.dll"), std::string::npos) << fatal[0];
    EXPECT_NE(fatal[0].find(row.traced), std::string::npos) << fatal[0];
  }
}

// Refused, a whole run stops there: no dialog, no port, no hand-off of the
// module, quiet or not.
TEST_F(ControlsBindingTest, ARefusedBindingStartsNothing) {
  const BindingRow &planted = bindingRows[6];
  for (const char *line : {"", "-q", "-q -t COM7", "-t SIMULATOR"}) {
    SCOPED_TRACE(line);
    Reset(&planted);
    FakeCommAddPort("\\\\.\\COM7");
    EXPECT_EQ(QuillonRun(&testRun, line), 1);
    EXPECT_TRUE(fakeUi.shown.empty());
    EXPECT_TRUE(fakeDialog.calls.empty());
    EXPECT_EQ(fakeDialog.initialised, 0);
    EXPECT_TRUE(fakeComm.calls.empty());
    EXPECT_EQ(Log(), refusedLog);
  }
}

// An inventory makes no window and never loads the common controls: it
// never asks, and a binding that a run would refuse does not stop it.
TEST_F(ControlsBindingTest, AnInventoryNeverLooksTheBindingUp) {
  Reset(&bindingRows[6]);
  EXPECT_EQ(QuillonRun(&testRun, "-i"), 21) << "no module";
  EXPECT_TRUE(fakeSideBySide.lookups.empty());
  EXPECT_TRUE(fakeUi.shown.empty());
  EXPECT_TRUE(fakeDialog.calls.empty());
  EXPECT_TRUE(Messages("FATAL").empty());
  EXPECT_EQ(Log(), "") << "an inventory writes no upgrade log";
}

}  // namespace
