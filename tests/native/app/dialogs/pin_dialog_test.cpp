// The PIN dialog against a scripted SIM: the label, what is sent, the
// warning after a refused code, and the dialog's end codes.
#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/dialogs/pin_dialog.h"
#include "app/run_record.h"
#include "fakes/fake_dialog.h"
#include "fakes/fake_thread.h"
#include "fakes/fake_ui.h"
#include "resource.h"
#include "support/module_port_fixture.h"
#include "support/test_run.h"
#include "support/trace_lines.h"

namespace {

using Lines = std::vector<std::string>;

// A SIM behind the module: "AT+CPIN?" names its state, "AT+CPIN=" takes a
// code. Wrong PINs use up its tries, and the last one locks it behind the
// PUK. A mute SIM answers nothing.
struct Sim {
  std::string state;  // "SIM PIN", "SIM PUK" or "READY"
  int tries = 3;
  bool mute = false;
  bool muteAfterFirstQuery = false;
  int queries = 0;
  int heardOnTheInterfaceThread = 0;
  Lines codes;  // every code that reached the module
};

const char pin[] = "1234";
const char puk[] = "12345678";

ModuleReply PlaySim(std::shared_ptr<Sim> sim) {
  return [sim](const std::string &command) -> std::string {
    if (FakeThreadCurrent() == nullptr) sim->heardOnTheInterfaceThread++;
    if (command == "AT+CPIN?") {
      if (sim->mute || (sim->muteAfterFirstQuery && sim->queries > 0)) return "";
      sim->queries++;
      return "\r\n+CPIN: " + sim->state + "\r\n\r\nOK\r\n";
    }
    const std::string prefix = "AT+CPIN=\"";
    if (command.compare(0, prefix.size(), prefix) != 0) return "ERROR\r\n";
    std::string code = command.substr(prefix.size(), command.find('"', prefix.size()) - prefix.size());
    sim->codes.push_back(code);
    if (sim->state == "SIM PIN" && code == pin) sim->state = "READY";
    else if (sim->state == "SIM PUK" && code == puk) sim->state = "READY";
    else if (sim->state == "SIM PIN" && --sim->tries == 0) sim->state = "SIM PUK";
    else if (sim->state != "SIM PUK" && sim->state != "SIM PIN") return "ERROR\r\n";
    return sim->state == "READY" ? "\r\nOK\r\n" : "\r\n+CME ERROR: incorrect password\r\nERROR\r\n";
  };
}

// The user's part: codes typed (or pasted) and OK pressed for each, then
// Cancel unless a code opened the SIM.
const char cancel[] = "<cancel>";

class PinDialogTest : public ModulePortTest {
 protected:
  void SetUp() override {
    ModulePortTest::SetUp();
    StartOver();
  }
  void TearDown() override {
    testRun.device = nullptr;
    ModulePortTest::TearDown();
  }

  void StartOver() {
    FakeDialogReset();
    FakeUiReset();
    RunRecordReset(&testRun);
    fakeDebugLines.clear();
    testRun.device = &device;
    sim = std::make_shared<Sim>();
    Answer(PlaySim(sim));
  }

  // Runs the dialog with the user entering `entries` in turn.
  int RunWith(const Lines &entries) {
    fakeDialog.presetTexts[IDC_PIN_LABEL] = "Pin:";  // the template's text
    fakeDialog.users[IDD_PIN] = [entries](OsWindow dialog) {
      for (const std::string &entry : entries) {
        if (fakeDialog.windows[dialog].ended) return;
        if (entry == cancel) {
          FakeDialogPress(dialog, OS_IDCANCEL);
        } else {
          FakeDialogType(dialog, IDC_PIN_CODE, entry);
          FakeDialogPress(dialog, OS_IDOK);
        }
        FakeDialogPump();  // the module's answer comes back
      }
    };
    return PinDialogRun(owner, testRun.device, testRun.quiet);
  }

  // Every text the label was given, in order.
  static Lines Labels() {
    Lines labels;
    for (const FakeDialogCall &call : fakeDialog.calls)
      if (call.name == "SetItemText" && call.item == IDC_PIN_LABEL) labels.push_back(call.text);
    return labels;
  }

  static int WrongPinBoxes(OsWindow dialog) {
    int count = 0;
    for (const FakeMessageBox &box : fakeUi.shown) {
      EXPECT_EQ(box.owner, dialog);
      EXPECT_EQ(box.caption, "ERROR");
      EXPECT_EQ(box.text, "Wrong pin");
      EXPECT_EQ(box.style, (unsigned)OS_MB_ICONWARNING);
      count++;
    }
    return count;
  }

  std::shared_ptr<Sim> sim;
  OsWindow owner = (OsWindow)0x104;
};

struct PathRow {
  const char *name;
  const char *state;
  int tries;
  Lines entries;
  int result;
  Lines labels;  // every text the label was given
  Lines sent;    // the codes that reached the module
  int warnings;  // "Wrong pin" boxes
};

TEST_F(PinDialogTest, Paths) {
  const std::string longCode(150, '7');
  const PathRow rows[] = {
      {"PIN", "SIM PIN", 3, {pin}, PIN_ACCEPTED, {"Pin:"}, {pin}, 0},
      {"PUK", "SIM PUK", 3, {puk}, PIN_ACCEPTED, {"Puk:"}, {puk}, 0},
      {"wrong, then right", "SIM PIN", 3, {"0000", pin}, PIN_ACCEPTED, {"Pin:", "PIN:"}, {"0000", pin}, 1},
      {"wrong PUK, then cancel", "SIM PUK", 3, {"1111", cancel}, PIN_CANCELLED, {"Puk:", "PUK:"}, {"1111"}, 1},
      {"the last PIN try locks the SIM",
       "SIM PIN", 1, {"0000", puk}, PIN_ACCEPTED, {"Pin:", "PUK:"}, {"0000", puk}, 1},
      {"an empty code is sent and refused", "SIM PIN", 3, {"", cancel}, PIN_CANCELLED, {"Pin:", "PIN:"}, {""}, 1},
      {"letters are never sent", "SIM PIN", 3, {"12ab", cancel}, PIN_CANCELLED, {"Pin:", "PIN:"}, {}, 1},
      {"nor a pasted second command",
       "SIM PIN", 3, {"1234\"\r\nAT+CFUN=0", pin}, PIN_ACCEPTED, {"Pin:", "PIN:"}, {pin}, 1},
      {"nor a sign or a blank", "SIM PIN", 3, {"-1234", " 1234", pin}, PIN_ACCEPTED, {"Pin:", "PIN:", "PIN:"},
       {pin}, 2},
      {"a long paste sends its first 99 digits",
       "SIM PIN", 3, {longCode, cancel}, PIN_CANCELLED, {"Pin:", "PIN:"}, {longCode.substr(0, 99)}, 1},
      {"cancel at once", "SIM PIN", 3, {cancel}, PIN_CANCELLED, {"Pin:"}, {}, 0},
      {"a ready SIM leaves the label", "READY", 3, {cancel}, PIN_CANCELLED, {}, {}, 0},
  };
  for (const PathRow &row : rows) {
    SCOPED_TRACE(row.name);
    StartOver();
    sim->state = row.state;
    sim->tries = row.tries;
    EXPECT_EQ(RunWith(row.entries), row.result);
    EXPECT_EQ(Labels(), row.labels);
    EXPECT_EQ(sim->codes, row.sent);
    OsWindow dialog = FakeDialogLast(IDD_PIN);
    EXPECT_EQ(WrongPinBoxes(dialog), row.warnings);
    EXPECT_EQ(fakeDialog.windows[dialog].owner, owner);
    EXPECT_EQ(sim->heardOnTheInterfaceThread, 0) << "every exchange runs off the interface thread";
    // A refused code does not stay in the edit.
    if (row.warnings > 0 && row.result == PIN_CANCELLED) {
      EXPECT_EQ(fakeDialog.windows[dialog].items[IDC_PIN_CODE], "");
    }
  }
}

// While the module is asked (a code, and the state after it was refused),
// OK and Cancel are greyed and nothing is decided; the answer brings them
// back. A Cancel that comes anyway (Escape) ends the
// dialog once the module has answered, not before.
TEST_F(PinDialogTest, TheButtonsWaitWhileTheModuleIsAsked) {
  sim->state = "SIM PIN";
  fakeDialog.presetTexts[IDC_PIN_LABEL] = "Pin:";
  fakeDialog.users[IDD_PIN] = [this](OsWindow dialog) {
    FakeDialogWindow &window = fakeDialog.windows[dialog];
    const std::set<int> greyed = {OS_IDOK, OS_IDCANCEL};
    EXPECT_TRUE(window.disabled.empty()) << "back once the state came";
    EXPECT_EQ(sim->queries, 1);
    FakeDialogType(dialog, IDC_PIN_CODE, "0000");
    FakeDialogPress(dialog, OS_IDOK);
    EXPECT_EQ(window.disabled, greyed) << "the code is out";
    FakeDialogPress(dialog, OS_IDOK);  // pressed again meanwhile: nothing more is sent
    FakeDialogPress(dialog, OS_IDCANCEL);
    EXPECT_FALSE(window.ended) << "not while the module is asked";
    EXPECT_TRUE(fakeUi.shown.empty());
    FakeDialogPump();
  };
  EXPECT_EQ(PinDialogRun(owner, testRun.device, testRun.quiet), PIN_CANCELLED);
  EXPECT_EQ(sim->codes, Lines{"0000"});
  EXPECT_EQ(sim->heardOnTheInterfaceThread, 0);
}

// The user types at once: the code has the focus.
TEST_F(PinDialogTest, OpensWithTheFocusOnTheCode) {
  sim->state = "SIM PIN";
  RunWith({cancel});
  Lines focused;
  for (const FakeDialogCall &call : fakeDialog.calls)
    if (call.name == "FocusItem") focused.push_back(std::to_string(call.item));
  EXPECT_EQ(focused, Lines{std::to_string(IDC_PIN_CODE)});
}

// A state query that gets no answer leaves the label as it was, at start
// and after a refused code, and the dialog stays for another try.
TEST_F(PinDialogTest, UnansweredStateQueryLeavesTheLabel) {
  const struct {
    const char *name;
    bool mute, muteAfterFirst;
    Lines labels;
  } rows[] = {
      {"at start", true, false, {}},
      {"after a refusal", false, true, {"Pin:"}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    StartOver();
    sim->state = "SIM PIN";
    sim->mute = row.mute;
    sim->muteAfterFirstQuery = row.muteAfterFirst;
    EXPECT_EQ(RunWith({"0000", pin}), PIN_ACCEPTED);
    EXPECT_EQ(Labels(), row.labels);
    EXPECT_EQ(sim->codes, (Lines{"0000", pin}));
  }
}

// A dialog that cannot be created, and an unattended run, unlock nothing
// and ask the module nothing.
TEST_F(PinDialogTest, NoDialogCountsAsCancelled) {
  const struct {
    const char *name;
    bool failCreate;
    int quiet;
    size_t dialogs;
    Lines warnings;
  } rows[] = {
      {"cannot be created", true, 0, 1, {"The PIN dialog could not be created\r\n"}},
      {"quiet mode", false, 1, 0, {}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    StartOver();
    sim->state = "SIM PIN";
    if (row.failCreate) fakeDialog.failCreate.insert(IDD_PIN);
    testRun.quiet = row.quiet;
    EXPECT_EQ(RunWith({pin}), PIN_CANCELLED);
    EXPECT_EQ(fakeDialog.calls.size(), row.dialogs);
    EXPECT_TRUE(module->commands.empty());
    EXPECT_EQ(Messages("WARNING"), row.warnings);
  }
}

}  // namespace
