// The process entry of the Windows stub: there is no C runtime, so the
// image's entry point takes the command line itself and ends the process.

#include "platform/win32/windows_api.h"
#include "startup/startup.h"

extern "C" void __stdcall process_entry() {
  const char* arguments = skip_program_name(GetCommandLineA());
  int status = start_program(GetModuleHandleA(nullptr), arguments);
  ExitProcess(static_cast<UINT>(status));
}
