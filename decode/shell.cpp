#include "shell.h"

#include <windows.h>

#include <shellapi.h>

#include "stub_state.h"

void StartWithShell(const char* file, const char* parameters)
{
    char currentDir[kPathSize];
    const DWORD n = GetCurrentDirectoryA(kPathSize, currentDir);
    SHELLEXECUTEINFOA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    // ICON | NOCLOSEPROCESS | CONNECTNETDRV | FLAG_DDEWAIT | FLAG_NO_UI; no DOENVSUBST.
    info.fMask = 0x5D0;
    info.hwnd = GetDesktopWindow();
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = n > 0 && n < kPathSize ? currentDir : nullptr;
    info.nShow = SW_SHOW;
    if (ShellExecuteExA(&info) && info.hProcess) CloseHandle(info.hProcess);
}
