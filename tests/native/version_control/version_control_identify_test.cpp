// Identification: reading "label. value" lines out of the module's version
// replies, and asking the module through the AT channel.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "device/simulator.h"
#include "device_open/device_open.h"
#include "support/module_port_fixture.h"
#include "version_control/identify.h"

namespace {

TEST(ExtractField, TakesTheValueAfterTheFirstLabel) {
  struct {
    const char *name, *text, *label, *value;  // value nullptr: field left as it was
  } const rows[] = {
      {"simulator model", "Model. SIMULATOR\r\nSoftware Version. R1A013\r\nOK\r\n", "Model", "SIMULATOR"},
      {"simulator version", "Model. SIMULATOR\r\nSoftware Version. R1A013\r\nOK\r\n", "Software Version", "R1A013"},
      {"label missing", "Model. SIMULATOR\r\nOK\r\n", "Revision", nullptr},
      {"no full stop and space", "Model: SIMULATOR\r\nOK\r\n", "Model", nullptr},
      {"no CR LF: the rest of the text", "Revision. R1E/11", "Revision", "R1E/11"},
      {"suffix left for the judge", "Revision. R1E/11\r\nOK\r\n", "Revision", "R1E/11"},
      {"nothing trimmed", "Build Date.  Jan 5 2009 \r\n", "Build Date", " Jan 5 2009 "},
      {"IMEI keeps its spaces", "IMEI Data. 0044 0170 1234 567\r\n", "IMEI Data", "0044 0170 1234 567"},
      {"empty value", "Model. \r\nOK\r\n", "Model", ""},
      {"a lone LF is part of the value", "Model. a\nb\r\n", "Model", "a\nb"},
      {"first occurrence, even inside a word", "SubModel. X\r\nModel. Y\r\n", "Model", "X"},
      {"a \". \" only on a later line is another label's", "Model\r\nName. Q\r\n", "Model", nullptr},
      {"the label's line ends in the text's end", "Model\r\nName", "Model", nullptr},
      {"the separator later on the label's own line", "Model name. Q\r\nX. Y\r\n", "Model", "Q"},
      {"a \". \" before the label does not count", "A. b\r\nModel. M\r\n", "Model", "M"},
      {"product number", "Product Number. QHW 552 08/101\r\n", "Product Number", "QHW 552 08/101"},
  };
  for (const auto &row : rows) {
    char field[64] = "before";
    int found = ExtractField(row.text, row.label, field, sizeof field);
    EXPECT_EQ(found, row.value != nullptr) << row.name;
    EXPECT_STREQ(field, row.value ? row.value : "before") << row.name;
  }
}

TEST(ExtractField, CutsTheValueToTheField) {
  char field[8];
  std::memset(field, 'x', sizeof field);
  EXPECT_EQ(ExtractField("Model. ABCDEFGHIJ\r\n", "Model", field, 4), 1);
  EXPECT_STREQ(field, "ABC");
  EXPECT_EQ(field[4], 'x');
  EXPECT_EQ(ExtractField("Model. ABC", "Model", field, 0), 0);
  EXPECT_EQ(field[0], 'A');
}

TEST(ModuleInfoReset, SaysNoModuleUntilOneAnswers) {
  ModuleInfo info;
  std::memset(&info, 'x', sizeof info);
  ModuleInfoReset(&info);
  EXPECT_STREQ(info.model, "No module found");
  for (const char *field : {info.productNumber, info.revision, info.imei, info.softwareVersion, info.buildDate})
    EXPECT_STREQ(field, "");
}

struct Identity {
  const char *model, *productNumber, *revision, *imei, *softwareVersion, *buildDate;
};

void ExpectIdentity(const ModuleInfo &info, const Identity &expected, const char *name) {
  EXPECT_STREQ(info.model, expected.model) << name;
  EXPECT_STREQ(info.productNumber, expected.productNumber) << name;
  EXPECT_STREQ(info.revision, expected.revision) << name;
  EXPECT_STREQ(info.imei, expected.imei) << name;
  EXPECT_STREQ(info.softwareVersion, expected.softwareVersion) << name;
  EXPECT_STREQ(info.buildDate, expected.buildDate) << name;
}

const char fullReply[] =
    "Model. QM7\r\nProduct Number. QHW 552 08/101\r\nRevision. R1E/11\r\n"
    "IMEI Data. 0044 0170 1234 567\r\nSoftware Version. R1D05\r\nBuild Date. Jan 5 2009\r\nOK\r\n";
const char noModelReply[] =
    "Product Number. QHW 552 08/101\r\nRevision. R1D\r\nIMEI Data. 35\r\n"
    "Software Version. R1D05\r\nBuild Date. first\r\nOK\r\n";

struct IdentifyRow {
  const char *name;
  std::map<std::string, std::string> replies;
  bool echo;
  std::vector<std::string> commands;
  Identity identity;
};

using IdentifyModuleOnAPort = ModulePortTest;

TEST_F(IdentifyModuleOnAPort, AsksTheVersionCommandsInTurn) {
  const IdentifyRow rows[] = {
      {"simulator-like reply",
       {{"AT*QVERS", "Model. SIMULATOR\r\nSoftware Version. R1A013\r\nOK\r\n"}},
       false,
       {"AT*QVERS"},
       {"SIMULATOR", "", "", "", "R1A013", ""}},
      {"every field, with echo",
       {{"AT*QVERS", fullReply}},
       true,
       {"AT*QVERS"},
       {"QM7", "QHW 552 08/101", "R1E/11", "0044 0170 1234 567", "R1D05", "Jan 5 2009"}},
      {"no model: model and build date from AT*QVER",
       {{"AT*QVERS", noModelReply}, {"AT*QVER", "Model. QM7\r\nBuild Date. second\r\nSoftware Version. R9\r\nOK\r\n"}},
       false,
       {"AT*QVERS", "AT*QVER"},
       {"QM7", "QHW 552 08/101", "R1D", "35", "R1D05", "second"}},
      // The failing reply still names a model and a date: neither may be
      // taken from a command that failed.
      {"no model, and AT*QVER fails",
       {{"AT*QVERS", noModelReply}, {"AT*QVER", "Model. X\r\nBuild Date. Y\r\nERROR\r\n"}},
       false,
       {"AT*QVERS", "AT*QVER"},
       {"No module found", "QHW 552 08/101", "R1D", "35", "R1D05", ""}},
      {"no model anywhere",
       {{"AT*QVERS", noModelReply}, {"AT*QVER", "Build Date. second\r\nOK\r\n"}},
       false,
       {"AT*QVERS", "AT*QVER"},
       {"No module found", "QHW 552 08/101", "R1D", "35", "R1D05", "second"}},
      {"AT*QVERS refused: AT*QVER2 parsed the same way",
       {{"AT*QVER2", fullReply}},
       false,
       {"AT*QVERS", "AT*QVER2"},
       {"QM7", "QHW 552 08/101", "R1E/11", "0044 0170 1234 567", "R1D05", "Jan 5 2009"}},
      {"both refused", {}, false, {"AT*QVERS", "AT*QVER2"}, {"No module found", "", "", "", "", ""}},
      {"silent module",
       {{"AT*QVERS", ""}, {"AT*QVER2", ""}},
       false,
       {"AT*QVERS", "AT*QVER2"},
       {"No module found", "", "", "", "", ""}},
  };
  for (const IdentifyRow &row : rows) {
    port->input.clear();
    Answer(ReplyFrom(row.replies, "ERROR\r\n"));
    module->echo = row.echo;
    ModuleInfo info = IdentifyModule(&device);
    EXPECT_EQ(module->commands, row.commands) << row.name;
    ExpectIdentity(info, row.identity, row.name);
  }
}

TEST_F(IdentifyModuleOnAPort, ReadsNoLabelBeyondTheReplyBuffer) {
  std::string reply = "Model. QM7\r\n";
  while (reply.size() < IDENTIFY_REPLY_SIZE) reply += std::string(98, 'x') + "\r\n";
  Answer(ReplyFrom({{"AT*QVERS", reply + "Build Date. late\r\nOK\r\n"}}, "ERROR\r\n"));
  ModuleInfo info = IdentifyModule(&device);
  EXPECT_STREQ(info.model, "QM7");
  EXPECT_STREQ(info.buildDate, "");
}

// Each version command waits 4000 ms for its reply: a slower module must
// not be reported absent. The fake port gives up a read after 1000 ms, so
// silence costs the full wait on the virtual clock.
TEST_F(IdentifyModuleOnAPort, WaitsFourSecondsForEachVersionCommand) {
  struct {
    const char *name;
    std::map<std::string, std::string> replies;
    std::vector<std::string> commands;
    std::vector<uint32_t> sentAt;  // ms after the start
    uint32_t elapsed;
  } const rows[] = {
      {"silent module", {}, {"AT*QVERS", "AT*QVER2"}, {0, 4000}, 8000},
      {"silent on the old command", {{"AT*QVERS", noModelReply}}, {"AT*QVERS", "AT*QVER"}, {0, 0}, 4000},
  };
  for (const auto &row : rows) {
    port->input.clear();
    FakeSyncReset();
    const uint32_t start = fakeClock.tick;
    std::vector<uint32_t> sentAt;
    ModuleReply silentElse = ReplyFrom(row.replies, "");
    Answer([&sentAt, start, silentElse](const std::string &command) {
      sentAt.push_back(fakeClock.tick - start);
      return silentElse(command);
    });
    IdentifyModule(&device);
    EXPECT_EQ(module->commands, row.commands) << row.name;
    EXPECT_EQ(sentAt, row.sentAt) << row.name;
    EXPECT_EQ(fakeClock.tick - start, row.elapsed) << row.name;
    EXPECT_EQ(fakeSync.lastTimeout, 4000) << row.name << ": the lock is waited for as long";
  }
}

// The reply buffer keeps 3999 bytes and a terminator: a value that ends on
// the last byte kept is whole, one that runs a byte further loses it.
TEST_F(IdentifyModuleOnAPort, KeepsTheFirst3999BytesOfTheReply) {
  const std::string head = "Model. QM7\r\n";
  const std::string label = "Build Date. ";
  const std::string value = "ABCDEFGH";
  struct {
    const char *name;
    size_t lastValueByte;  // offset in the reply
    const char *buildDate;
  } const rows[] = {
      {"value ends on byte 3998, its CR LF cut", 3998, "ABCDEFGH"},
      {"value crosses byte 3999", 3999, "ABCDEFG"},
  };
  for (const auto &row : rows) {
    port->input.clear();
    std::string reply = head + PaddingLines(row.lastValueByte + 1 - head.size() - label.size() - value.size());
    reply += label + value;
    ASSERT_EQ(reply.size(), row.lastValueByte + 1) << row.name;
    Answer(ReplyFrom({{"AT*QVERS", reply + "\r\nOK\r\n"}}, "ERROR\r\n"));
    ModuleInfo info = IdentifyModule(&device);
    EXPECT_EQ(module->commands, std::vector<std::string>{"AT*QVERS"}) << row.name;
    EXPECT_STREQ(info.model, "QM7") << row.name;
    EXPECT_STREQ(info.buildDate, row.buildDate) << row.name;
  }
}

TEST(IdentifyModule, WithoutADeviceSaysNoModule) {
  ModuleInfo info = IdentifyModule(nullptr);
  ExpectIdentity(info, {"No module found", "", "", "", "", ""}, "no device");
}

TEST(IdentifyModule, ReadsTheSimulatedModule) {
  SimulatorReset();
  FakeSyncReset();
  SerialDevice *device = nullptr;
  ASSERT_EQ(SerialDeviceOpen(&device, "SIMULATOR", 9600), 0);
  ModuleInfo info = IdentifyModule(device);
  ExpectIdentity(info, {"SIMULATOR", "", "", "", "R1A013", ""}, "simulator");
  DeviceClose(device);
}

}  // namespace
