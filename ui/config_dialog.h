#ifndef CONFIGTOOL_UI_CONFIG_DIALOG_H
#define CONFIGTOOL_UI_CONFIG_DIALOG_H

#include <windows.h>

#include "settings.h"

INT_PTR CALLBACK ConfigDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
FormState ReadFormState(HWND hwnd);

#endif
