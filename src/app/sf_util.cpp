// The connection manager's hand-off (the name is the system's own, kept
// with its trace source src\sf_util): the maker's console program lets go
// of the wireless-WAN device before the update and takes it back
// afterwards. A machine without it is no error.
#include "app/sf_util.h"

#include <cstdint>
#include <cstring>

#include "log/trace_log.h"
#include "os/child_process.h"
#include "os/file_attributes.h"
#include "os/registry.h"

static const unsigned traceThreshold = 2;
static const char traceSource[] = "..\\..\\..\\src\\sf_util";

static const char kvtKey[] = "SOFTWARE\\Corvin\\CorvinPanel\\KVT";
static const char kvtFolderValue[] = "InstalledPath";
// Appended to the folder as it is: the folder text ends with its backslash.
static const char kvtProgram[] = "Corvin.KVT.Console.exe";
static const char releaseSwitch[] = " /releasewwan";
static const char regainSwitch[] = " /regainwwan";

enum {
  KVT_LINE_SIZE = 200,  // bytes, terminator included; also the most the registry read takes
  KVT_QUOTES = 2,       // around the path, beyond the line's count
  // The connection manager is given two minutes. A hung tool must not hold
  // the update hostage: past that the run goes on without it.
  KVT_WAIT_MS = 120000,
};

// Reads the installation folder into `folder` (KVT_LINE_SIZE + 1 bytes),
// always terminated there. Returns 0 or the
// system error code; a value that is not a plain string is refused, so no
// expandable or binary data ever becomes a program path.
static uint32_t ReadFolder(OsRegKey key, char *folder) {
  uint32_t type = OS_REG_NONE;
  uint32_t size = KVT_LINE_SIZE;
  uint32_t result = OsRegQueryValueEx(key, kvtFolderValue, &type, folder, &size);
  if (result != 0) return result;
  if (type != OS_REG_SZ) return OS_ERROR_DATATYPE_MISMATCH;
  folder[size < (uint32_t)KVT_LINE_SIZE ? size : (uint32_t)KVT_LINE_SIZE] = '\0';
  return 0;
}

// Appends `text` when it fits with the terminator; otherwise leaves the
// buffer as it was and says so.
static bool Append(char *buffer, size_t capacity, size_t *used, const char *text) {
  size_t length = std::strlen(text);
  if (length >= capacity - *used) return false;
  std::memcpy(buffer + *used, text, length + 1);
  *used += length;
  return true;
}

void corvinKvtCtrl(int mode) {
  // One byte beyond the read, so a value without a terminator gets one.
  char folder[KVT_LINE_SIZE + 1] = {0};
  char program[KVT_LINE_SIZE] = {0};
  char commandLine[KVT_LINE_SIZE + KVT_QUOTES] = {0};

  OsRegKey key = 0;
  uint32_t result = OsRegOpenKeyEx(OS_HKEY_LOCAL_MACHINE, kvtKey, OS_KEY_READ | OS_KEY_WOW64_64KEY, &key);
  if (result != 0) {
    TRACE(TRACE_DEBUG, "No Corvin KVT found ERROR(%d)\r\n", (int)result);
    return;
  }
  result = ReadFolder(key, folder);
  OsRegCloseKey(key);
  if (result != 0) {
    TRACE(TRACE_WARNING, "Failed to get reg value for InstalledPath ERROR(%d)\r\n", (int)result);
    return;
  }

  // The path is both the program to start and, quoted, the command line's
  // first word: a folder with blanks ("C:\Program Files\...") then cannot
  // start "C:\Program.exe" instead, with this program's rights. The whole
  // line has to fit, or none of it is used: a folder that long is taken as
  // one without the console program. The line is counted without its
  // quotes, and with the release switch in either mode: a folder that lets
  // the module go also lets it be taken back.
  const char *modeSwitch = mode == KVT_RELEASE ? releaseSwitch : regainSwitch;
  const size_t counted = std::strlen(folder) + std::strlen(kvtProgram) + std::strlen(releaseSwitch);
  size_t lineUsed = 0, programUsed = 0;
  bool fits = counted < KVT_LINE_SIZE &&
              Append(commandLine, sizeof commandLine, &lineUsed, "\"") &&
              Append(commandLine, sizeof commandLine, &lineUsed, folder) &&
              Append(commandLine, sizeof commandLine, &lineUsed, kvtProgram) &&
              Append(commandLine, sizeof commandLine, &lineUsed, "\"") &&
              Append(commandLine, sizeof commandLine, &lineUsed, modeSwitch) &&
              Append(program, sizeof program, &programUsed, folder) &&
              Append(program, sizeof program, &programUsed, kvtProgram);
  if (!fits) {
    TRACE(TRACE_DEBUG, "Command line too long for %s\r\n", folder);
    return;
  }
  if (OsGetFileAttributes(program) == OS_INVALID_FILE_ATTRIBUTES) {
    TRACE(TRACE_DEBUG, "File not found %s ERROR(%d)\r\n", program, (int)result);
    return;
  }

  TRACE(TRACE_DEBUG, "Executing %s\r\n", commandLine);
  OsChild child;
  result = OsChildStart(program, commandLine, &child);
  if (result != 0) {
    TRACE(TRACE_WARNING, "CreateProcess Failed ERROR(%d).\r\n", (int)result);
    return;
  }
  int waited = OsChildWait(&child, KVT_WAIT_MS);
  if (waited == OS_WAIT_TIMEOUT)
    TRACE(TRACE_WARNING, "Corvin KVT console still running after %d ms, going on\r\n", (int)KVT_WAIT_MS);
  else if (waited != OS_WAIT_OBJECT_0)
    TRACE(TRACE_WARNING, "Waiting for the Corvin KVT console failed (%d), going on\r\n", waited);
  else
    TRACE(TRACE_DEBUG, "Finished Executing\r\n");
  OsChildClose(&child);
}
