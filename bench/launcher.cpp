// launcher: times ConfigTool-style programs from the Windows side, with the performance counter.
//   launcher RUNS EXE...   starts the programs in turn, RUNS rounds, the order reversed every other
//                          round; for each start prints "INDEX MS_TO_VISIBLE MS_TO_READY
//                          MS_FROM_OK_TO_EXIT PEAK_WORKING_SET_BYTES", ready being when the
//                          shown dialog has been painted and waits for input
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

LARGE_INTEGER gFrequency;

double Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * now.QuadPart / gFrequency.QuadPart;
}

struct Run {
    PROCESS_INFORMATION process;
    HWND dialog;
};

// Starts the program and waits, polling every millisecond, until its dialog is on screen.
bool Start(const char* exe, Run* run) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    char commandLine[MAX_PATH + 2];
    snprintf(commandLine, sizeof commandLine, "\"%s\"", exe);
    if (!CreateProcessA(exe, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &run->process))
        return false;
    for (DWORD waited = 0; waited < 20000; ++waited, Sleep(1)) {
        HWND dialog = FindWindowA("#32770", "Configuration Tool");
        DWORD owner = 0;
        if (dialog) GetWindowThreadProcessId(dialog, &owner);
        if (owner == run->process.dwProcessId && IsWindowVisible(dialog)) {
            run->dialog = dialog;
            return true;
        }
    }
    TerminateProcess(run->process.hProcess, 1);
    return false;
}

// Presses OK and waits for the process to end; one that does not end is ended.
bool Finish(Run* run) {
    PostMessageA(run->dialog, WM_COMMAND, IDOK, 0);
    const bool ended = WaitForSingleObject(run->process.hProcess, 20000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(run->process.hProcess, 1);
    CloseHandle(run->process.hThread);
    CloseHandle(run->process.hProcess);
    return ended;
}

int Time(int rounds, int count, char** exes) {
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < count; ++k) {
            const int i = round % 2 ? count - 1 - k : k;  // ABBA: neither program always goes first
            Run run;
            const double start = Now();
            if (!Start(exes[i], &run)) {
                fprintf(stderr, "launcher: %s showed no dialog\n", exes[i]);
                return 1;
            }
            const double visible = Now();
            WaitForInputIdle(run.process.hProcess, 5000);
            const double ready = Now();
            PROCESS_MEMORY_COUNTERS memory = {};
            memory.cb = sizeof memory;
            GetProcessMemoryInfo(run.process.hProcess, &memory, sizeof memory);
            const double ok = Now();
            if (!Finish(&run)) {
                fprintf(stderr, "launcher: %s did not end after OK\n", exes[i]);
                return 1;
            }
            printf("%d %.2f %.2f %.2f %lu\n", i, visible - start, ready - start, Now() - ok,
                   static_cast<unsigned long>(memory.PeakWorkingSetSize));
            fflush(stdout);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QueryPerformanceFrequency(&gFrequency);
    if (argc >= 3 && atoi(argv[1]) > 0) return Time(atoi(argv[1]), argc - 2, argv + 2);
    fprintf(stderr, "usage: launcher RUNS EXE...\n");
    return 2;
}
