// Drives the serial layer on the machine's real ports and prints what it saw, one line per step.
//
//   serial_check open PATH | open @N | write TEXT | read LENGTH TIMEOUT | version | close
//              | ports FRAGMENT | friendly | interfaces | add-modem NAME
//
// Steps run in order on the last opened connection. TEXT takes \r, \n and
// \\ escapes; "@N" names entry N of the last port list. Output lines:
//   open <connection>
//   write <result>
//   read <result> <elapsed ms> <bytes, C-escaped>
//   version [<text>]
//   close
//   ports <count>   then   port [<entry>]   per entry (also for friendly)
//   interfaces <error>   then   interface <devtype> [<path>] [<friendly name>]
//                        for every present COM-port interface, module or not
//   add-modem <0|error>   a root-enumerated modem named NAME with a present
//                         COM-port interface: the machine's side of a test
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <setupapi.h>

#include "escape_text.h"
#include "os/clock.h"
#include "os/devenum.h"
#include "serial/winserial.h"
#include "serial/winserial_discovery.h"

namespace {

const int kEntries = 100;
const int kStride = 256;

std::string Unescape(const char *text) {
  std::string out;
  for (const char *p = text; *p != '\0'; p++) {
    if (*p != '\\' || p[1] == '\0') {
      out += *p;
      continue;
    }
    p++;
    out += *p == 'r' ? '\r' : *p == 'n' ? '\n' : *p;
  }
  return out;
}

void PrintList(const char *label, const std::vector<char> &list, int count) {
  std::printf("%s %d\n", label, count);
  for (int i = 0; i < count; i++) std::printf("port [%s]\n", &list[(size_t)i * kStride]);
}

// Every COM-port interface the system lists, through the same seam calls
// as discovery, so the detail record is exercised whatever the names.
void ListInterfaces() {
  const OsGuid comPort = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
  OsDevInfoSet set;
  uint32_t error = OsSetupDiGetClassDevs(&comPort, OS_DIGCF_PRESENT | OS_DIGCF_DEVICEINTERFACE, &set);
  std::printf("interfaces %u\n", (unsigned)error);
  if (error != 0) return;
  for (uint32_t index = 0;; index++) {
    OsDevInterface iface;
    error = OsSetupDiEnumDeviceInterfaces(set, &comPort, index, &iface);
    if (error != 0) {
      std::printf("end %u\n", (unsigned)error);
      break;
    }
    char path[261] = "";
    OsDevInfo device;
    error = OsSetupDiGetDeviceInterfaceDetail(set, &iface, sizeof path, path, sizeof path, &device);
    if (error != 0) {
      std::printf("detail %u\n", (unsigned)error);
      continue;
    }
    uint32_t type = 0, devType = 0, required = 0;
    OsSetupDiGetDeviceRegistryProperty(set, &device, OS_SPDRP_DEVTYPE, &type, &devType, sizeof devType, &required);
    char name[256] = "";
    OsSetupDiGetDeviceRegistryProperty(set, &device, OS_SPDRP_FRIENDLYNAME, &type, name, sizeof name - 1, &required);
    std::printf("interface %u [%s] [%s]\n", (unsigned)devType, path, name);
  }
  OsSetupDiDestroyDeviceInfoList(set);
}

// Installs a modem device with a COM-port interface, the way a driver
// package would leave it, so discovery has a real interface to walk.
unsigned AddModem(const char *name) {
  static const GUID modemClass = {0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
  static const GUID comPort = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
  HDEVINFO set = SetupDiCreateDeviceInfoList(&modemClass, nullptr);
  if (set == INVALID_HANDLE_VALUE) return GetLastError();
  SP_DEVINFO_DATA device;
  device.cbSize = sizeof device;
  SP_DEVICE_INTERFACE_DATA iface;
  iface.cbSize = sizeof iface;
  union {
    SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
    char bytes[512];
  } storage;
  storage.detail.cbSize = sizeof storage.detail;
  unsigned error = 0;
  if (!SetupDiCreateDeviceInfoA(set, "MODEM", &modemClass, nullptr, nullptr, DICD_GENERATE_ID, &device) ||
      !SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr) ||
      !SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, (const BYTE *)name,
                                         (DWORD)std::strlen(name) + 1) ||
      !SetupDiCreateDeviceInterfaceA(set, &device, &comPort, nullptr, 0, &iface) ||
      !SetupDiGetDeviceInterfaceDetailA(set, &iface, &storage.detail, sizeof storage, nullptr, nullptr))
    error = GetLastError();
  SetupDiDestroyDeviceInfoList(set);
  if (error != 0) return error;

  // Present means "linked", which the device's driver would set when it
  // starts; here nothing starts, so the test sets it. The key is named
  // after the interface path with "\\?\" written as "##?#".
  std::string path = storage.detail.DevicePath;
  std::string key = "System\\CurrentControlSet\\Control\\DeviceClasses\\{86e0d1e0-8089-11d0-9ce4-08003e301f73}\\##?#" +
                    path.substr(4) + "\\#\\Control";
  HKEY control;
  LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &control,
                                nullptr);
  if (result != ERROR_SUCCESS) return (unsigned)result;
  DWORD linked = 1;
  result = RegSetValueExA(control, "Linked", 0, REG_DWORD, (const BYTE *)&linked, sizeof linked);
  RegCloseKey(control);
  return (unsigned)result;
}

}  // namespace

int main(int argc, char **argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // the tests watch the lines as they come
  int connection = 0;
  std::vector<char> ports((size_t)kEntries * kStride, '\0');
  int portCount = 0;

  for (int i = 1; i < argc; i++) {
    std::string step = argv[i];
    auto next = [&]() -> const char * {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s: missing argument\n", step.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (step == "open") {
      const char *path = next();
      if (path[0] == '@') {
        int n = std::atoi(path + 1);
        path = n >= 0 && n < portCount ? &ports[(size_t)n * kStride] : "";
      }
      connection = SerialOpen(path, 9600);
      std::printf("open %d\n", connection);
    } else if (step == "write") {
      std::string text = Unescape(next());
      std::printf("write %d\n", SerialWrite(connection, text.data(), (int)text.size()));
    } else if (step == "read") {
      int length = std::atoi(next());
      int timeout = std::atoi(next());
      std::vector<unsigned char> buffer(length > 0 ? (size_t)length : 1, 0xAA);
      uint32_t start = OsTickCount();
      int result = SerialRead(connection, buffer.data(), length, timeout);
      uint32_t elapsed = OsTickCount() - start;
      std::printf("read %d %u %s\n", result, (unsigned)elapsed,
                  EscapeBytes(buffer.data(), result > 0 ? result : 0).c_str());
    } else if (step == "version") {
      char text[255];
      std::memset(text, 0, sizeof text);
      SerialQueryDriverVersion(connection, text, sizeof text);
      std::printf("version [%s]\n", text);
    } else if (step == "close") {
      SerialClose(connection);
      std::printf("close\n");
    } else if (step == "ports") {
      const char *fragments[] = {next(), nullptr};
      std::fill(ports.begin(), ports.end(), '\0');
      portCount = SerialGetPorts(ports.data(), kEntries, kStride, fragments);
      PrintList("ports", ports, portCount);
    } else if (step == "friendly") {
      std::fill(ports.begin(), ports.end(), '\0');
      portCount = EnumerateFriendlySerialPorts(ports.data(), kEntries, kStride);
      PrintList("friendly", ports, portCount);
    } else if (step == "add-modem") {
      std::printf("add-modem %u\n", AddModem(next()));
    } else if (step == "interfaces") {
      ListInterfaces();
    } else {
      std::fprintf(stderr, "unknown step %s\n", step.c_str());
      return 2;
    }
  }
  return 0;
}
