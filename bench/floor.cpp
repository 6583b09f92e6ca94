// The floor: the least a program of ConfigTool's design can cost. The same dialog resources, built
// with the same toolchain and flags, and a dialog procedure that does nothing but close the dialog
// on OK and Cancel (without that there would be no "OK to exit" to time).
// Built a second time with FLOOR_SHOWS_DEFAULTS, it also fills in the two default commands, which
// shows what that alone costs.
#include <windows.h>

#include "resource.h"

namespace {

INT_PTR CALLBACK FloorDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
#ifdef FLOOR_SHOWS_DEFAULTS
    if (message == WM_INITDIALOG) {
        SetDlgItemTextA(hwnd, IDC_CONNECT_APP, "NOTEPAD.EXE");
        SetDlgItemTextA(hwnd, IDC_DISCONNECT_APP, "CMD.EXE");
        return TRUE;
    }
#endif
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hwnd, 0);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_CONFIG), NULL, FloorDialogProc, 0);
    return 0;
}
