// Port discovery over a fake device-interface set and a fake registry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_debug_output.h"
#include "fakes/fake_devenum.h"
#include "fakes/fake_registry.h"
#include "serial/winserial.h"
#include "serial/winserial_discovery.h"
#include "support/trace_lines.h"

namespace {

const char kSerialComm[] = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
const char kRow3[] = "Norvane M7120x Mobile Broadband Minicard Data Modem";
const char kRow4[] = "Halvard M7120x Mobile Broadband Data Modem";
const char *const kMdm[] = {"mdm", nullptr};

std::string InterfacePath(int n) {
  return "\\\\?\\usb#vid_0bdb&pid_1911&mi_0" + std::to_string(n) + "#7&1f2e&0&000" + std::to_string(n) +
         "#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
}

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeDevEnumReset();
    FakeRegistryReset();
    FakeClockReset();
    fakeDebugLines.clear();
    FakeRegistryAddKey(kSerialComm);
  }

  void AddInterface(const std::string &path, const std::string &friendlyName, uint32_t devType = OS_FILE_DEVICE_MODEM) {
    FakeDevice device;
    device.path = path;
    device.friendlyName = friendlyName;
    device.devType = devType;
    fakeDevEnum.devices.push_back(device);
  }

  void AddSerialComm(const std::string &name, const std::string &data, uint32_t type = OS_REG_SZ) {
    fakeRegistry.keys[kSerialComm].values.push_back(FakeRegValue{name, type, data, false});
  }

  // Runs one discovery into a list whose bytes beyond the filled entries
  // must stay as the caller left them (zero).
  std::vector<std::string> Ports(int capacity = 100, int stride = 256, const char *const *fragments = kMdm,
                                 bool interfacesOnly = false) {
    std::vector<char> list((size_t)(capacity + 1) * stride, '\0');
    int count = interfacesOnly ? EnumerateFriendlySerialPorts(list.data(), capacity, stride)
                               : SerialGetPorts(list.data(), capacity, stride, fragments);
    EXPECT_GE(count, 0);
    EXPECT_LE(count, capacity);
    std::vector<std::string> entries;
    for (int i = 0; i < count; i++) {
      const char *entry = list.data() + (size_t)i * stride;
      EXPECT_EQ(entry[stride - 1], '\0') << "entry " << i << " ends within its stride";
      entries.push_back(std::string(entry, strnlen(entry, stride)));
    }
    for (size_t at = (size_t)count * stride; at < list.size(); at++) {
      EXPECT_EQ(list[at], '\0') << "byte " << at << " beyond the filled entries";
      if (list[at] != '\0') break;
    }
    return entries;
  }
};

// --- friendly names -----------------------------------------------------------

TEST_F(DiscoveryTest, ModuleNamesAreFoundThroughTheTableOrTheFragments) {
  struct Row {
    const char *name;
    std::string friendlyName;
    int inTable;
    bool accepted;
  };
  const Row rows[] = {
      {"row 4 with a port suffix", std::string(kRow4) + " (COM7)", 1, true},
      {"row 3", kRow3, 1, true},
      {"row 1", "Norvane M7120x WMC 1.0 Data", 1, true},
      {"row 2 inside a longer name", "Corvin Wireless 6640 HSPA Mobile Broadband Minicard Modem 2 #3", 1, true},
      {"first fragment only", "Norvane M7120x Diagnostics Port", 0, true},
      {"second fragment only", "Corvin Wireless 6640 HSPA Mobile Broadband Minicard Network Adapter", 0, true},
      {"row 4 cut short", "Halvard M7120x Mobile Broadband Data", 0, false},
      {"other letter case", "halvard m7120x mobile broadband data modem", 0, false},
      {"some other modem", "Standard 33600 bps Modem", 0, false},
      {"empty name", "", 0, false},
  };
  for (const Row &row : rows) {
    SetUp();
    EXPECT_EQ(CheckIfInPreferedmdmTable(row.friendlyName.c_str()), row.inTable) << row.name;
    EXPECT_EQ(Messages("DEBUG"), (std::vector<std::string>{"FName: " + row.friendlyName + "\n"})) << row.name;
    EXPECT_EQ(FunctionOf("FName: "), "CheckIfInPreferedmdmTable") << row.name;

    AddInterface(InterfacePath(1), row.friendlyName);
    std::vector<std::string> expected;
    if (row.accepted) expected.push_back(InterfacePath(1));
    EXPECT_EQ(Ports(100, 256, kMdm, true), expected) << row.name;
  }
}

TEST_F(DiscoveryTest, AcceptedInterfaceIsTracedAndCopied) {
  AddInterface(InterfacePath(2), std::string(kRow4) + " (COM9)");
  EXPECT_EQ(Ports(100, 256, kMdm, true), (std::vector<std::string>{InterfacePath(2)}));

  EXPECT_EQ(Messages("DEBUG"),
            (std::vector<std::string>{std::string("FName: ") + kRow4 + " (COM9)\n",
                                      std::string("Friendly name [") + kRow4 + " (COM9)]\n    (" + InterfacePath(2) + ")",
                                      "match port(" + InterfacePath(2) + "), 1\n"}));
  EXPECT_EQ(FunctionOf("Friendly name"), "EnumerateFriendlySerialPorts");
  EXPECT_EQ(FunctionOf("match port"), "EnumerateFriendlySerialPorts");

  // Present COM-port interfaces, asked for by their class.
  ASSERT_FALSE(fakeDevEnum.calls.empty());
  EXPECT_EQ(fakeDevEnum.calls[0].name, "SetupDiGetClassDevsA");
  EXPECT_EQ(fakeDevEnum.calls[0].size, 0x12u);
  const OsGuid comPort = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
  EXPECT_EQ(std::memcmp(&fakeDevEnum.lastClass, &comPort, sizeof comPort), 0);
  EXPECT_EQ(fakeDevEnum.setsOpen, 0) << "the set is destroyed";
}

TEST_F(DiscoveryTest, InterfacesThatAreNotAModuleModemAreSkipped) {
  AddInterface(InterfacePath(1), kRow4, 0x1B);  // a serial port, not a modem
  AddInterface(InterfacePath(2), kRow4);
  fakeDevEnum.devices.back().hasDevType = false;
  AddInterface(InterfacePath(3), kRow4);
  fakeDevEnum.devices.back().hasFriendlyName = false;
  AddInterface(InterfacePath(4), kRow3);

  EXPECT_EQ(Ports(100, 256, kMdm, true), (std::vector<std::string>{InterfacePath(4)}));
  EXPECT_TRUE(Messages("WARNING").empty());
  EXPECT_EQ(fakeDevEnum.setsOpen, 0);
}

TEST_F(DiscoveryTest, EnumerationFailuresKeepWhatWasFound) {
  struct Row {
    const char *name;
    uint32_t classDevsError;
    int enumErrorAt;  // -1: none
    uint32_t enumError;
    int detailErrorAt;
    uint32_t detailError;
    std::vector<std::string> expected;
    std::vector<std::string> warnings;
  };
  const Row rows[] = {
      {"normal end", 0, -1, 0, -1, 0, {InterfacePath(0), InterfacePath(1), InterfacePath(2)}, {}},
      {"no interface set", 13, -1, 0, -1, 0, {}, {"SetupDiGetClassDevs failed. (d)"}},
      {"enumeration error", 0, 1, 5, -1, 0, {InterfacePath(0)}, {"SetupDiEnumDeviceInterfaces failed. (5)"}},
      {"detail error ends it all", 0, -1, 0, 1, 0x57, {InterfacePath(0)},
       {"SetupDiGetDeviceInterfaceDetail failed. (57)"}},
  };
  for (const Row &row : rows) {
    SetUp();
    for (int i = 0; i < 3; i++) AddInterface(InterfacePath(i), kRow4);
    fakeDevEnum.classDevsError = row.classDevsError;
    if (row.enumErrorAt >= 0) fakeDevEnum.enumErrors[row.enumErrorAt] = row.enumError;
    if (row.detailErrorAt >= 0) fakeDevEnum.detailErrors[row.detailErrorAt] = row.detailError;
    AddSerialComm("\\Device\\mdm0", FakeRegText("COM7"));

    std::vector<std::string> expected = row.expected;
    expected.push_back("\\\\.\\COM7");  // the registry part runs whatever happened before
    EXPECT_EQ(Ports(), expected) << row.name;
    EXPECT_EQ(Messages("WARNING"), row.warnings) << row.name;
    EXPECT_EQ(fakeDevEnum.setsOpen, 0) << row.name;
  }
}

TEST_F(DiscoveryTest, DevicePathMustFitTheDetailRecord) {
  // 261 bytes with a 4-byte header leave 256 characters and a terminator.
  const std::string fits(256, 'p');
  const std::string tooLong(257, 'q');
  AddInterface(fits, kRow4);
  AddInterface(tooLong, kRow4);
  AddInterface(InterfacePath(3), kRow4);

  EXPECT_EQ(Ports(100, 300, kMdm, true), (std::vector<std::string>{fits}));
  EXPECT_EQ(Messages("WARNING"), (std::vector<std::string>{"SetupDiGetDeviceInterfaceDetail failed. (7a)"}));
  for (const FakeDevEnumCall &call : fakeDevEnum.calls)
    if (call.name == "SetupDiGetDeviceInterfaceDetailA") {
      EXPECT_EQ(call.size, 261u);
    }
}

TEST_F(DiscoveryTest, LongPathsAreCutToTheStride) {
  AddInterface(InterfacePath(1), kRow4);
  AddInterface(InterfacePath(2), kRow4);
  AddSerialComm("\\Device\\mdm0", FakeRegText("COM123456789"));
  EXPECT_EQ(Ports(100, 12), (std::vector<std::string>{InterfacePath(1).substr(0, 11), InterfacePath(2).substr(0, 11),
                                                      "\\\\.\\COM1234"}));
}

// --- registry ------------------------------------------------------------------

TEST_F(DiscoveryTest, SerialCommValuesNamingTheModuleGivePortPaths) {
  AddSerialComm("\\Device\\mdm0", FakeRegText("COM12"));
  AddSerialComm("\\Device\\Serial0", FakeRegText("COM1"));
  AddSerialComm("\\Device\\mdm1", FakeRegText("COM13"));

  EXPECT_EQ(Ports(), (std::vector<std::string>{"\\\\.\\COM12", "\\\\.\\COM13"}));

  EXPECT_EQ(Messages("DEBUG"), (std::vector<std::string>{
                                   "0) \\Device\\mdm0  COM12\n",
                                   "match port(\\\\.\\COM12), 1\n",
                                   "1) \\Device\\Serial0  COM1\n",
                                   "2) \\Device\\mdm1  COM13\n",
                                   "match port(\\\\.\\COM13), 2\n",
                               }));
  EXPECT_EQ(FunctionOf("match port"), "SerialGetPorts");
  const FakeRegCall &open = fakeRegistry.calls.front();
  EXPECT_EQ(open.name, "RegOpenKeyExA");
  EXPECT_EQ(open.key, kSerialComm);
  EXPECT_EQ(open.dataSize, 0xF003Fu) << "access asked for";
  EXPECT_EQ(fakeRegistry.calls.back().name, "RegCloseKey");
  EXPECT_TRUE(fakeRegistry.open.empty());
}

TEST_F(DiscoveryTest, InterfacePathsComeBeforeRegistryPaths) {
  AddSerialComm("\\Device\\mdm0", FakeRegText("COM7"));
  AddInterface(InterfacePath(1), kRow4 + std::string(" (COM7)"));
  EXPECT_EQ(Ports(), (std::vector<std::string>{InterfacePath(1), "\\\\.\\COM7"}));
}

TEST_F(DiscoveryTest, DataBufferGrowsToTwiceWhatTheRegistryAsks) {
  AddSerialComm("\\Device\\mdm0", FakeRegText("COM12"));              // 6 bytes
  AddSerialComm("\\Device\\mdm1", FakeRegText("COM1234567890123"));   // 17 bytes
  AddSerialComm("\\Device\\mdm2", "COM7");                            // no terminator

  EXPECT_EQ(Ports(), (std::vector<std::string>{"\\\\.\\COM12", "\\\\.\\COM1234567890123", "\\\\.\\COM7"}));

  std::vector<uint32_t> offered;
  for (const FakeRegCall &call : fakeRegistry.calls)
    if (call.name == "RegEnumValueA") offered.push_back(call.dataSize);
  // 2 bytes, then 2 x 6, then 2 x 17; one byte of each kept for the terminator.
  EXPECT_EQ(offered, (std::vector<uint32_t>{1, 11, 11, 33, 33}));
}

TEST_F(DiscoveryTest, UnreadableValuesAreSkipped) {
  struct Row {
    const char *name;
    FakeRegValue value;
    std::string line;
  };
  const Row rows[] = {
      {"not a text", {"\\Device\\mdm9", OS_REG_DWORD, std::string("\x07\0\0\0", 4), false},
       "0 based index = 0, retValue = 1629,ValueLen = 12\n"},
      {"data never fits", {"\\Device\\mdm9", OS_REG_SZ, FakeRegText("COM9"), true},
       "0 based index = 0, retValue = 234,ValueLen = 12\n"},
      {"data beyond all reason", {"\\Device\\mdm9", OS_REG_SZ, std::string(3u << 20, 'C'), false},
       "0 based index = 0, retValue = 234,ValueLen = 12\n"},
  };
  for (const Row &row : rows) {
    SetUp();
    fakeRegistry.keys[kSerialComm].values.push_back(row.value);
    AddSerialComm("\\Device\\mdm0", FakeRegText("COM7"));

    EXPECT_EQ(Ports(), (std::vector<std::string>{"\\\\.\\COM7"})) << row.name;
    std::vector<std::string> debug = Messages("DEBUG");
    ASSERT_FALSE(debug.empty()) << row.name;
    EXPECT_EQ(debug[0], row.line) << row.name;
    EXPECT_LE(fakeRegistry.calls.size(), 20u) << "the retry loop is bounded: " << row.name;
  }
}

TEST_F(DiscoveryTest, LongValueNameAfterAShortOneIsRead) {
  AddSerialComm("\\D", FakeRegText("COM1"));
  const std::string longName = "\\Device\\" + std::string(300, 'x') + "mdm";
  AddSerialComm(longName, FakeRegText("COM7"));
  EXPECT_EQ(Ports(), (std::vector<std::string>{"\\\\.\\COM7"}));
  for (const FakeRegCall &call : fakeRegistry.calls)
    if (call.name == "RegEnumValueA") {
      EXPECT_EQ(call.nameLength, 16384u) << "value " << call.index;
    }
}

TEST_F(DiscoveryTest, NamelessValueIsShownAsSuch) {
  AddSerialComm("", FakeRegText("COM3"));
  const char *const fragments[] = {"NO NAME", nullptr};
  EXPECT_EQ(Ports(100, 256, fragments), (std::vector<std::string>{"\\\\.\\COM3"}));
  EXPECT_EQ(Messages("DEBUG")[0], "0) <NO NAME>  COM3\n");
}

TEST_F(DiscoveryTest, EachValueYieldsOneEntryWhateverTheFragments) {
  AddSerialComm("\\Device\\mdm0", FakeRegText("COM7"));
  AddSerialComm("\\Device\\QcSerial", FakeRegText("COM8"));
  struct Row {
    const char *name;
    std::vector<const char *> fragments;
    std::vector<std::string> expected;
  };
  const Row rows[] = {
      {"both fragments match one value", {"mdm", "Device", nullptr}, {"\\\\.\\COM7", "\\\\.\\COM8"}},
      {"second fragment only", {"xyz", "QcSerial", nullptr}, {"\\\\.\\COM8"}},
      {"no fragments", {nullptr}, {}},
  };
  for (const Row &row : rows) EXPECT_EQ(Ports(100, 256, row.fragments.data()), row.expected) << row.name;
  EXPECT_EQ(Ports(100, 256, nullptr), (std::vector<std::string>{})) << "absent fragment list";
}

TEST_F(DiscoveryTest, UnopenableRegistryKeyLeavesTheInterfaces) {
  AddSerialComm("\\Device\\mdm0", FakeRegText("COM7"));
  fakeRegistry.elevated = false;  // all access to a machine key needs administrator rights

  EXPECT_EQ(Ports(), (std::vector<std::string>{}));
  EXPECT_EQ(Messages("WARNING"), (std::vector<std::string>{"Unable to open register key for serialcom\n"}));
  EXPECT_EQ(FunctionOf("Unable to open"), "SerialGetPorts");

  fakeDebugLines.clear();
  AddInterface(InterfacePath(1), kRow4);
  EXPECT_EQ(Ports(), (std::vector<std::string>{InterfacePath(1)}));
}

TEST_F(DiscoveryTest, ListNeverHoldsMoreThanItsCapacity) {
  for (int i = 0; i < 3; i++) AddInterface(InterfacePath(i), kRow4);
  for (int i = 0; i < 3; i++) AddSerialComm("\\Device\\mdm" + std::to_string(i), FakeRegText("COM" + std::to_string(20 + i)));
  struct Row {
    int capacity;
    std::vector<std::string> expected;
  };
  const Row rows[] = {
      {0, {}},
      {2, {InterfacePath(0), InterfacePath(1)}},
      {3, {InterfacePath(0), InterfacePath(1), InterfacePath(2)}},
      {4, {InterfacePath(0), InterfacePath(1), InterfacePath(2), "\\\\.\\COM20"}},
      {100, {InterfacePath(0), InterfacePath(1), InterfacePath(2), "\\\\.\\COM20", "\\\\.\\COM21", "\\\\.\\COM22"}},
  };
  for (const Row &row : rows) {
    fakeDevEnum.calls.clear();
    EXPECT_EQ(Ports(row.capacity), row.expected) << row.capacity;
    int enumerated = 0;
    for (const FakeDevEnumCall &call : fakeDevEnum.calls) enumerated += call.name == "SetupDiEnumDeviceInterfaces";
    EXPECT_LE(enumerated, row.capacity + 1) << "no enumeration once the list is full: " << row.capacity;
  }
}

}  // namespace
