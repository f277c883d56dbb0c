// Windows entry point: hands the command line to the portable run.
#include <windows.h>

#include "app/entry.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  (void)instance;
  return QuillonMain(commandLine);
}
