#include "password_dialog.h"

INT_PTR CALLBACK PasswordDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}
