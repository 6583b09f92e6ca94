#include "dialog_run.h"

#include <stdio.h>

bool StartProgram(const char* exe, PROCESS_INFORMATION* process) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    char commandLine[MAX_PATH + 2];
    snprintf(commandLine, sizeof commandLine, "\"%s\"", exe);
    return CreateProcessA(exe, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, process) != 0;
}

HWND WaitForDialog(DWORD waitMs, DWORD pollMs, DWORD process) {
    for (const DWORD start = GetTickCount();; Sleep(pollMs)) {
        HWND dialog = FindWindowA("#32770", "Configuration Tool");
        DWORD owner = 0;
        if (dialog) GetWindowThreadProcessId(dialog, &owner);
        if (dialog && IsWindowVisible(dialog) && (!process || owner == process)) return dialog;
        if (GetTickCount() - start > waitMs) return NULL;
    }
}

bool PressOkAndWait(HWND dialog, PROCESS_INFORMATION* process, DWORD waitMs) {
    if (dialog) PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    const bool ended = WaitForSingleObject(process->hProcess, waitMs) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(process->hProcess, 1);
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
    return ended;
}
