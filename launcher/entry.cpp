// Entry and stage dispatch: the command line alone tells which of the three
// processes of the chain this is.
#include <windows.h>

#include <cstdlib>

#include "messages.h"
#include "stages.h"

// Before anything else can load a DLL, limit DLL loading to the system
// directory so that a planted DLL beside a downloaded file is never used.
// Systems before Windows 7 SP1 (KB2533623) lack the call and keep their rules.
static void HardenDllSearch()
{
    typedef BOOL(WINAPI * SetDirectories)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    const SetDirectories set =
        reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (set) set(0x00000800); // LOAD_LIBRARY_SEARCH_SYSTEM32
}

static int StartsWithColons(const char* s)
{
    return s[0] == ':' && s[1] == ':' && s[2] == ':';
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int)
{
    HardenDllSearch();
    if (!commandTail || !commandTail[0]) {
        if (!RunLaunchStage()) ShowError(nullptr, nullptr, kMsgTakeOutFailed);
        return 0;
    }
    // The C runtime has split the command line by the usual rules.
    if (__argc == 2 && StartsWithColons(__argv[1])) {
        RunDecodeStage(instance);
    } else if (__argc == 3 && StartsWithColons(__argv[2])) {
        RunCleanupStage(__argv[1], __argv[2]);
    }
    return 0;
}
