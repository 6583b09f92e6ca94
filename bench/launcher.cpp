// launcher: times ConfigTool-style programs from the Windows side, with the performance counter.
//   launcher RUNS EXE...   starts the programs in turn, RUNS rounds, the order reversed every other
//                          round; for each start prints "INDEX MS_TO_VISIBLE MS_TO_READY
//                          MS_FROM_OK_TO_EXIT PEAK_WORKING_SET_BYTES", ready being when the
//                          shown dialog has been painted and waits for input
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>

#include "dialog_run.h"

namespace {

LARGE_INTEGER gFrequency;

double Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * now.QuadPart / gFrequency.QuadPart;
}

int Time(int rounds, int count, char** exes) {
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < count; ++k) {
            const int i = round % 2 ? count - 1 - k : k;  // ABBA: neither program always goes first
            PROCESS_INFORMATION process;
            const double start = Now();
            const bool started = StartProgram(exes[i], &process);
            HWND dialog = started ? WaitForDialog(20000, 1, process.dwProcessId) : NULL;
            if (!dialog) {
                if (started) PressOkAndWait(NULL, &process, 0);  // ends it, closes its handles
                fprintf(stderr, "launcher: %s showed no dialog\n", exes[i]);
                return 1;
            }
            const double visible = Now();
            WaitForInputIdle(process.hProcess, 5000);
            const double ready = Now();
            PROCESS_MEMORY_COUNTERS memory = {};
            memory.cb = sizeof memory;
            GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory);
            const double ok = Now();
            if (!PressOkAndWait(dialog, &process, 20000)) {
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
