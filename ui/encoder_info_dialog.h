// The encoder information dialog: which machine encoded the file, when, and
// how often files from it were decoded here; lets the user name the machine.
#ifndef LUMISAFE_UI_ENCODER_INFO_DIALOG_H
#define LUMISAFE_UI_ENCODER_INFO_DIALOG_H

#include <cstdint>
#include <windows.h>

// lParam of WM_INITDIALOG: the RecordHeader of the decoded record.
INT_PTR CALLBACK EncoderInfoDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Volume serial of the drive holding the Windows directory; 0 when it cannot
// be read, in which case no file is taken to come from this computer.
int GetLocalSerial(uint32_t* serial);

// createdAt in local time as the 24 characters "Www Mmm dd hh:mm:ss yyyy"
// (out holds 25 bytes). Times before 1970 are shown as they are.
void FormatCreatedAt(int32_t createdAt, char* out);

#endif
