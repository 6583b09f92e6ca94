#include <windows.h>

#include "config_dialog.h"
#include "resource.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    // The dialog is the whole program; however it ends, the exit code is 0.
    DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_CONFIG), NULL, ConfigDialogProc, 0);
    return 0;
}
