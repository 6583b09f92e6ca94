// probe: looks at ConfigTool from the Windows side, for tools/run and the tests.
//   probe dump                     every key and value under the settings key, exact bytes
//   probe reset [PATH NAME TYPE HEX]...   deletes the settings tree, then stores the given values
//                                  (PATH below the settings key, "." for the key itself)
//   probe deny PATH / allow PATH   closes a key to everyone / opens it again
//   probe dialog [WAIT_MS]         waits for the dialog, then prints its handle, window, whether
//                                  its program runs under WOW64, and its controls
//   probe serve                    answers these commands from standard input, one a line, each
//                                  answer ending in "end STATUS"; keeps the Wine desktop open
//   probe view 32|64               the registry view for the commands after it (at first 32)
//   probe clip HEX                 puts the bytes on the clipboard as text
//   probe ok EXE                   starts the program, checks its three boxes and presses OK;
//                                  prints "pid PID" in hex first, to find it in a relay trace
// A copy named reg.exe only leaves the file planted-reg.exe-ran in its current folder.
#include <windows.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "dialog_run.h"
#include "registry_tree.h"
#include "resource.h"
#include "settings.h"

namespace {

int Dump() {
    std::vector<std::string> lines = DumpTree(kServicesKey);
    for (size_t i = 0; i < lines.size(); ++i) printf("%s\n", lines[i].c_str());
    return 0;
}

int Reset(int argc, char** argv) {
    LONG status = ClearSettings();
    for (int i = 0; status == ERROR_SUCCESS && i + 3 < argc; i += 4)
        status = SetValue(SettingsPath(argv[i]), argv[i + 1], strtoul(argv[i + 2], NULL, 10),
                          FromHex(argv[i + 3]));
    if (status != ERROR_SUCCESS) fprintf(stderr, "probe: reset failed: %ld\n", status);
    return status == ERROR_SUCCESS ? 0 : 1;
}

int Dialog(DWORD waitMs) {
    HWND dialog = WaitForDialog(waitMs, 20, 0);
    if (!dialog) {
        fprintf(stderr, "probe: no dialog\n");
        return 1;
    }
    RECT r;
    GetWindowRect(dialog, &r);
    printf("handle %lu\n", HandleToULong(dialog));
    printf("window %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    printf("foreground %d\n", GetForegroundWindow() == dialog ? 1 : 0);
    // A 32-bit program on 64-bit Windows runs under WOW64, and sees the 32-bit registry view.
    DWORD owner = 0;
    GetWindowThreadProcessId(dialog, &owner);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, owner);
    BOOL wow64 = FALSE;
    if (process) {
        IsWow64Process(process, &wow64);
        CloseHandle(process);
    }
    printf("wow64 %d\n", process && wow64 ? 1 : 0);
    GUITHREADINFO info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info);
    printf("focus %d\n", info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0);
    printf("tab");
    HWND first = GetNextDlgTabItem(dialog, NULL, FALSE);
    for (HWND item = first; item; ) {
        printf(" %d", GetDlgCtrlID(item));
        item = GetNextDlgTabItem(dialog, item, FALSE);
        if (item == first) break;
    }
    printf("\n");
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char text[1024] = "";
        SendMessageA(child, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        GetWindowRect(child, &r);
        printf("control %d %ld %ld %ld %ld %ld %s\n", GetDlgCtrlID(child), r.left, r.top, r.right,
               r.bottom, static_cast<long>(SendMessageA(child, BM_GETCHECK, 0, 0)),
               ToHex(text).c_str());
    }
    return 0;
}

int Clip(const std::string& text) {
    // EmptyClipboard gives the clipboard to the window that opened it: without one it has no owner.
    HWND owner = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    void* bytes = memory ? GlobalLock(memory) : NULL;
    const char* failed = !owner ? "CreateWindowEx" : !bytes ? "GlobalAlloc" : NULL;
    if (bytes) {
        memcpy(bytes, text.c_str(), text.size() + 1);
        GlobalUnlock(memory);
    }
    if (!failed && !OpenClipboard(owner)) failed = "OpenClipboard";
    if (!failed) {
        if (!EmptyClipboard()) failed = "EmptyClipboard";
        else if (SetClipboardData(CF_TEXT, memory)) memory = NULL;  // the clipboard's now
        else failed = "SetClipboardData";
        CloseClipboard();
    }
    // A failed SetClipboardData leaves the memory ours (cppcheck takes it as always given away).
    // cppcheck-suppress doubleFree
    if (memory) GlobalFree(memory);
    if (owner) DestroyWindow(owner);
    if (failed) fprintf(stderr, "probe: %s failed: %lu\n", failed, GetLastError());
    return failed ? 1 : 0;
}

int PressOk(const char* exe) {
    PROCESS_INFORMATION process;
    if (!StartProgram(exe, &process)) {
        fprintf(stderr, "probe: cannot start %s: %lu\n", exe, GetLastError());
        return 1;
    }
    printf("pid %04lx\n", process.dwProcessId);
    fflush(stdout);
    HWND dialog = WaitForDialog(60000, 20, process.dwProcessId);  // traced, and maybe emulated
    if (dialog) {
        const int boxes[] = {IDC_FORCE_GUESTONLY, IDC_RUN_ON_CONNECT, IDC_RUN_ON_DISCONNECT};
        for (const int id : boxes) SendMessageA(GetDlgItem(dialog, id), BM_SETCHECK, BST_CHECKED, 0);
    }
    if (PressOkAndWait(dialog, &process, dialog ? 60000 : 0)) return 0;
    fprintf(stderr, "probe: %s %s\n", exe, dialog ? "did not end after OK" : "showed no dialog");
    return 1;
}

int Command(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "dump") return Dump();
    if (command == "reset") return Reset(argc - 2, argv + 2);
    if (command == "deny" && argc == 3) return DenyKey(SettingsPath(argv[2])) == ERROR_SUCCESS ? 0 : 1;
    if (command == "allow" && argc == 3) return AllowKey(SettingsPath(argv[2])) == ERROR_SUCCESS ? 0 : 1;
    if (command == "clip" && argc == 3) return Clip(FromHex(argv[2]));
    if (command == "view" && argc == 3) {
        gRegistryView = strcmp(argv[2], "64") == 0 ? KEY_WOW64_64KEY : 0;
        return strcmp(argv[2], "64") == 0 || strcmp(argv[2], "32") == 0 ? 0 : 2;
    }
    if (command == "dialog") return Dialog(argc > 2 ? strtoul(argv[2], NULL, 10) : 0);
    if (command == "ok" && argc == 3) return PressOk(argv[2]);
    fprintf(stderr, "usage: probe dump | reset [PATH NAME TYPE HEX]... | deny PATH |"
                    " allow PATH | dialog [WAIT_MS] | view 32|64 | clip HEX | ok EXE | serve\n");
    return 2;
}

// A Wine program takes a good part of a second to start: one that stays answers each look at the
// dialog or the registry at once. Staying, it also keeps the Wine desktop open, which Wine closes
// a second after its last program ends, taking the windows of a program starting just then.
int Serve(char* self) {
    GetDesktopWindow();
    _dup2(_fileno(stdout), _fileno(stderr));  // one stream: what a command says, then its end
    static char line[65536];
    while (fgets(line, sizeof line, stdin)) {
        std::vector<char*> args(1, self);
        for (char* arg = strtok(line, " \r\n"); arg; arg = strtok(NULL, " \r\n")) args.push_back(arg);
        const int status = Command(static_cast<int>(args.size()), args.data());
        printf("end %d\n", status);
        fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A copy planted as reg.exe where the startup script must not look: it leaves a mark in the
    // current folder, and answers as reg.exe does when all went well.
    const char* name = strrchr(argv[0], '\\') ? strrchr(argv[0], '\\') + 1 : argv[0];
    if (!_stricmp(name, "reg.exe") || !_stricmp(name, "reg")) {
        FILE* mark = fopen("planted-reg.exe-ran", "w");
        if (mark) fclose(mark);
        return 0;
    }
    if (argc == 2 && !strcmp(argv[1], "serve")) return Serve(argv[0]);
    return Command(argc, argv);
}
