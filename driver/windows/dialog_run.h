// Starting a program with ConfigTool's dialog from the Windows side, as the probe and the
// benchmark's launcher do: find its dialog, press OK, wait for its end.
#ifndef CONFIGTOOL_DRIVER_DIALOG_RUN_H_
#define CONFIGTOOL_DRIVER_DIALOG_RUN_H_

#include <windows.h>

// False when the program cannot be started.
bool StartProgram(const char* exe, PROCESS_INFORMATION* process);

// The visible "Configuration Tool" dialog (of that process, if `process` is not 0), looked for
// every pollMs, or NULL once waitMs have passed.
HWND WaitForDialog(DWORD waitMs, DWORD pollMs, DWORD process);

// Presses OK (with no dialog, nothing) and waits for the program to end; one that has not ended
// after waitMs is ended. Closes the process's handles; true when it ended by itself.
bool PressOkAndWait(HWND dialog, PROCESS_INFORMATION* process, DWORD waitMs);

#endif  // CONFIGTOOL_DRIVER_DIALOG_RUN_H_
