// Opens the module's device on a real port and runs the identification and AT queries, for the Wine tests.
//
//   module_check PORT STEP...
//   STEP: identify | echo-off | pin | enterpin CODE | qesfud
//
// The device is opened once, with its mode probe, and the steps run in
// order on it, so a test can follow the module's state across them (a PIN
// entry and the state read afterwards). Output lines:
//   open <result> <deviceStatusBits, hex>
//   identify   then six lines <field>=[<value, C-escaped>] in ModuleInfo order
//   echo-off <result>
//   pin <result> <state>       (state starts at 0: 0 means no state was named)
//   enterpin <result> [<code, C-escaped>]   (the code as it arrived, quotes and all)
//   qesfud <result>
// Values are escaped and bracketed so that CR, LF, control bytes and
// trailing spaces in a reply stay visible. Exit code 0 when the device
// opened, 1 when it did not, 2 for a bad command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "at/at.h"
#include "at/at_cmd.h"
#include "device/devices.h"
#include "device_open/device_open.h"
#include "escape_text.h"
#include "module_interface.h"
#include "version_control/identify.h"

namespace {

void PrintIdentity(const ModuleInfo &info) {
  // The names of the record's members, so a test reads which field went wrong.
  const struct {
    const char *name;
    const char *value;
  } fields[] = {
      {"model", info.model},
      {"productNumber", info.productNumber},
      {"revision", info.revision},
      {"imei", info.imei},
      {"softwareVersion", info.softwareVersion},
      {"buildDate", info.buildDate},
  };
  std::printf("identify\n");
  for (const auto &field : fields) std::printf("%s=[%s]\n", field.name, EscapeText(field.value).c_str());
}

int Usage() {
  std::fprintf(stderr, "usage: module_check PORT (identify | echo-off | pin | enterpin CODE | qesfud)...\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // a test that times out still sees the steps done
  if (argc < 2) return Usage();
  // Checked before the port is opened: a typo must not cost a PIN attempt
  // halfway through a sequence.
  for (int i = 2; i < argc; i++) {
    const char *step = argv[i];
    if (std::strcmp(step, "enterpin") == 0) {
      if (++i >= argc) return Usage();
    } else if (std::strcmp(step, "identify") != 0 && std::strcmp(step, "echo-off") != 0 &&
               std::strcmp(step, "pin") != 0 && std::strcmp(step, "qesfud") != 0) {
      std::fprintf(stderr, "unknown step %s\n", step);
      return Usage();
    }
  }

  SerialDevice *device = nullptr;
  int opened = SerialDeviceOpen(&device, argv[1], MODULE_BAUD);
  std::printf("open %d %08x\n", opened, device != nullptr ? (unsigned)device->deviceStatusBits : 0u);
  if (opened != 0) {
    DeviceClose(device);
    return 1;
  }

  for (int i = 2; i < argc; i++) {
    const char *step = argv[i];
    if (std::strcmp(step, "identify") == 0) {
      PrintIdentity(IdentifyModule(device));
    } else if (std::strcmp(step, "echo-off") == 0) {
      std::printf("echo-off %d\n", ATSendCmd(device, cmdEchoOff.text, nullptr, 0, cmdEchoOff.timeoutMs));
    } else if (std::strcmp(step, "pin") == 0) {
      PinState state = PIN_STATE_UNKNOWN;
      int result = ATGetPinState(device, &state, cmdPinQuery.timeoutMs);
      std::printf("pin %d %d\n", result, state);
    } else if (std::strcmp(step, "enterpin") == 0) {
      const char *code = argv[++i];
      int result = ATEnterPin(device, code, cmdPinEntry.timeoutMs);
      std::printf("enterpin %d [%s]\n", result, EscapeText(code).c_str());
    } else {
      std::printf("qesfud %d\n", ATQueryUpdateMode(device, cmdUpdateStateQuery.timeoutMs));
    }
  }
  DeviceClose(device);
  return 0;
}
