// Opens the module's device on a real port and sends one package through the update protocol, for the Wine tests.
//
//   protocol_check PORT (image | optional | file PATH)
//
// image sends the embedded full package (catalogue entry 0), optional the
// optional assignment image, file the package file PATH. Output lines:
//   open <result>
//   package <length>                   (the embedded images only)
//   progress <stage>                   one per callback without a pair
//   progress <stage> <acknowledged> <total>
//   result <code>                      the assignment's result code
//   protocol <SFProtocolVersion>
// Exit code 0 when the device opened, 1 when it did not, 2 for a bad
// command line.
#include <cstdio>
#include <cstring>

#include "device/devices.h"
#include "device_open/device_open.h"
#include "module_interface.h"
#include "update/sf_library.h"
#include "update/sf_link.h"
#include "version_control/packages.h"

namespace {

void PrintProgress(unsigned stage, const SFProgressPair *pair) {
  if (pair == nullptr)
    std::printf("progress %u\n", stage);
  else
    std::printf("progress %u %d %d\n", stage, (int)pair->acknowledged, (int)pair->total);
}

int Usage() {
  std::fprintf(stderr, "usage: protocol_check PORT (image | optional | file PATH)\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) return Usage();
  const char *what = argv[2];
  const bool file = std::strcmp(what, "file") == 0;
  if (file ? argc != 4 : argc != 3) return Usage();
  if (!file && std::strcmp(what, "image") != 0 && std::strcmp(what, "optional") != 0) return Usage();
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // a test that times out still sees how far it got

  SerialDevice *device = nullptr;
  int opened = SerialDeviceOpen(&device, argv[1], MODULE_BAUD);
  std::printf("open %d\n", opened);
  if (opened != 0) {
    DeviceClose(device);
    return 1;
  }

  int result;
  if (file) {
    result = SFLibSendAssignmentFile(device, argv[3], PrintProgress);
  } else {
    const bool full = std::strcmp(what, "image") == 0;
    const unsigned char *image = full ? PackageCatalogue[0].image : OptionalAssignmentImage.image;
    uint32_t length = full ? PackageCatalogue[0].imageLength : OptionalAssignmentImage.imageLength;
    std::printf("package %u\n", (unsigned)length);
    result = SFLibSendAssignment(device, image, (int32_t)length, PrintProgress);
  }
  std::printf("result %d\n", result);
  std::printf("protocol %u\n", (unsigned)SFProtocolVersion);
  DeviceClose(device);
  return 0;
}
