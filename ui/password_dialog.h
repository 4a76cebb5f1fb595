// The password dialog: the whole user interface of the decode stage.
#ifndef LUMISAFE_UI_PASSWORD_DIALOG_H
#define LUMISAFE_UI_PASSWORD_DIALOG_H

#include <windows.h>

INT_PTR CALLBACK PasswordDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
