// probe: looks at ConfigTool from the Windows side, for the run script, the tests and the benchmark.
//   probe dump                     every key and value under the settings key, exact bytes
//   probe settings                 the three settings, as a person reads them
//   probe reset [PATH NAME TYPE HEX]...   deletes the settings tree, then stores the given values
//                                  (PATH below the settings key, "." for the key itself)
//   probe deny PATH / allow PATH   closes a key to everyone / opens it again
//   probe dialog [WAIT_MS]         waits for the dialog, then prints its window and controls
//   probe clip HEX                 puts the bytes on the clipboard as text
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "registry_tree.h"
#include "settings.h"

namespace {

const char kDialogTitle[] = "Configuration Tool";

int Dump() {
    std::vector<std::string> lines = DumpTree(kServicesKey);
    for (size_t i = 0; i < lines.size(); ++i) printf("%s\n", lines[i].c_str());
    return 0;
}

void PrintSetting(const char* label, const char* path, const char* name) {
    HKEY key;
    char data[1024] = "";
    DWORD type = 0, size = sizeof data - 1;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
    if (status == ERROR_ACCESS_DENIED) {
        printf("%-40s ? (the key cannot be read)\n", label);
        return;
    }
    bool present = status == ERROR_SUCCESS;
    if (present) {
        present = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE*>(data), &size) ==
                  ERROR_SUCCESS;
        RegCloseKey(key);
    }
    if (!present)
        printf("%-40s off (no %s value)\n", label, name);
    else if (type == REG_DWORD && size == 4)
        printf("%-40s %s (%s = REG_DWORD %lu)\n", label, *reinterpret_cast<DWORD*>(data) ? "on" : "off",
               name, *reinterpret_cast<DWORD*>(data));
    else if (type == REG_SZ)
        printf("%-40s %s (%s = REG_SZ)\n", label, data, name);
    else
        printf("%-40s ? (%s has type %lu)\n", label, name, type);
}

int Settings() {
    printf("HKEY_LOCAL_MACHINE\\%s\n", kServicesKey);
    PrintSetting("Force GuestOnly connections:", kServicesKey, kGuestOnlyValue);
    PrintSetting("Run this app when device connects:", kConnectKey, kTestAppValue);
    PrintSetting("Run this app when device disconnects:", kDisconnectKey, kTestAppValue);
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
    HWND dialog = NULL;
    for (DWORD start = GetTickCount();; Sleep(20)) {
        dialog = FindWindowA("#32770", kDialogTitle);
        if ((dialog && IsWindowVisible(dialog)) || GetTickCount() - start > waitMs) break;
    }
    if (!dialog || !IsWindowVisible(dialog)) {
        fprintf(stderr, "probe: no dialog\n");
        return 1;
    }
    RECT r;
    GetWindowRect(dialog, &r);
    printf("window %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
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
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (!memory || !OpenClipboard(NULL)) return 1;
    memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    EmptyClipboard();
    bool stored = SetClipboardData(CF_TEXT, memory) != NULL;
    CloseClipboard();
    return stored ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "dump") return Dump();
    if (command == "settings") return Settings();
    if (command == "reset") return Reset(argc - 2, argv + 2);
    if (command == "deny" && argc == 3) return DenyKey(SettingsPath(argv[2])) == ERROR_SUCCESS ? 0 : 1;
    if (command == "allow" && argc == 3) return AllowKey(SettingsPath(argv[2])) == ERROR_SUCCESS ? 0 : 1;
    if (command == "clip" && argc == 3) return Clip(FromHex(argv[2]));
    if (command == "dialog") return Dialog(argc > 2 ? strtoul(argv[2], NULL, 10) : 0);
    fprintf(stderr, "usage: probe dump | settings | reset [PATH NAME TYPE HEX]... | deny PATH |"
                    " allow PATH | dialog [WAIT_MS] | clip HEX\n");
    return 2;
}
