// The process entry point of the decoder stub, in place of the C runtime's
// start-up code: the stub needs no runtime initialisation, only the command
// line split by the usual rules (msvcrt's own splitter) and WinMain's
// arguments, and leaving the runtime out saves a third of the stub's size.
#include <windows.h>

struct StartupInfo {
    int newMode;
};
extern "C" int __cdecl __getmainargs(int* argc, char*** argv, char*** env, int wildcard, StartupInfo* info);

// The command-line tail after the program name, as WinMain receives it.
static char* CommandTail()
{
    char* p = GetCommandLineA();
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

extern "C" void WINAPI StubEntry()
{
    // Sets msvcrt's __argc and __argv, which WinMain reads.
    int argc = 0;
    char** argv = nullptr;
    char** env = nullptr;
    StartupInfo info = {0};
    __getmainargs(&argc, &argv, &env, 0, &info);
    ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, CommandTail(), SW_SHOWDEFAULT)));
}
