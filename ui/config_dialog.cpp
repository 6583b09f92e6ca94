// The configuration dialog: defaults on open, the form applied on OK, nothing written on Cancel.
#include "config_dialog.h"

#include <string.h>

#include "command_text.h"
#include "resource.h"

namespace {

const char kDefaultConnectCommand[] = "NOTEPAD.EXE";
const char kDefaultDisconnectCommand[] = "CMD.EXE";

// BM_GETSTATE also reports focus and pushed state; only the check mark counts.
bool IsBoxChecked(HWND hwnd, int id) {
    const LRESULT state = SendMessageA(GetDlgItem(hwnd, id), BM_GETSTATE, 0, 0);
    return (state & BST_CHECKED) != 0;
}

void ReadCommand(HWND hwnd, int id, char* buffer) {
    memset(buffer, 0, kCommandBufferSize);
    GetDlgItemTextA(hwnd, id, buffer, kCommandBufferSize);
    CutAfterWholeCharacter(buffer, CP_ACP);
}

void InitCommandBox(HWND hwnd, int id, const char* command) {
    // The box holds no more than can be stored, so what it shows is what OK writes.
    SendMessageA(GetDlgItem(hwnd, id), EM_LIMITTEXT, kCommandBufferSize - 1, 0);
    SetDlgItemTextA(hwnd, id, command);
}

// The dialog shows the defaults every time; it never reads what is stored.
BOOL OnInitDialog(HWND hwnd) {
    InitCommandBox(hwnd, IDC_CONNECT_APP, kDefaultConnectCommand);
    InitCommandBox(hwnd, IDC_DISCONNECT_APP, kDefaultDisconnectCommand);
    return TRUE;  // focus goes to the first tab stop, the guest-only box
}

BOOL OnCommand(HWND hwnd, int id) {
    switch (id) {
    case IDOK:
        ApplySettings(ReadFormState(hwnd));
        EndDialog(hwnd, 0);
        return TRUE;
    case IDCANCEL:  // also the close box and Escape
        EndDialog(hwnd, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

FormState ReadFormState(HWND hwnd) {
    FormState form;
    form.forceGuestOnly = IsBoxChecked(hwnd, IDC_FORCE_GUESTONLY);
    form.runOnConnect = IsBoxChecked(hwnd, IDC_RUN_ON_CONNECT);
    ReadCommand(hwnd, IDC_CONNECT_APP, form.connectCommand);
    form.runOnDisconnect = IsBoxChecked(hwnd, IDC_RUN_ON_DISCONNECT);
    ReadCommand(hwnd, IDC_DISCONNECT_APP, form.disconnectCommand);
    return form;
}

INT_PTR CALLBACK ConfigDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(hwnd);
    case WM_COMMAND:
        return OnCommand(hwnd, LOWORD(wParam));
    default:
        return FALSE;  // the dialog manager's own handling
    }
}
