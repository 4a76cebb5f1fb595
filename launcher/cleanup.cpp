// The decode stage's hand-over to the cleanup stage, and the cleanup stage:
// wait for the decode stage to end, delete its executable, then our own.
#include <windows.h>

#include "stages.h"
#include "strbuf.h"
#include "stub_state.h"

// Two paths of up to 259 bytes, a handle number and the punctuation.
enum { kCleanupCommandSize = 2 * kPathSize + 64 };
enum { kOpenChildAttempts = 20, kOpenChildPauseMs = 500 };

void StartCleanupStage()
{
    char ownPath[kPathSize];
    char cleanupCopy[kPathSize];
    const DWORD n = GetModuleFileNameA(nullptr, ownPath, kPathSize);
    if (n == 0 || n >= kPathSize) return;
    if (!MakeTempExeName("Del", cleanupCopy)) return;
    CopyFileA(ownPath, cleanupCopy, FALSE);

    HANDLE self = OpenProcess(SYNCHRONIZE, TRUE, GetCurrentProcessId());
    if (!self) {
        DeleteFileA(cleanupCopy);
        return;
    }
    char command[kCleanupCommandSize];
    StrBuf b;
    StrInit(&b, command, sizeof command);
    StrAdd(&b, "\"");
    StrAdd(&b, cleanupCopy);
    StrAdd(&b, "\" ");
    StrAddInt(&b, static_cast<int32_t>(reinterpret_cast<INT_PTR>(self)));
    StrAdd(&b, " \":::");
    StrAdd(&b, ownPath);
    StrAdd(&b, "\"");

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (b.complete && CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                     &startup, &process)) {
        // Stay until the child can be opened, so the handle it inherits is
        // still valid when it waits on it; but never forever.
        for (int attempt = 0; attempt < kOpenChildAttempts; ++attempt) {
            Sleep(kOpenChildPauseMs);
            HANDLE child = OpenProcess(SYNCHRONIZE, TRUE, process.dwProcessId);
            if (child) {
                CloseHandle(child);
                break;
            }
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        DeleteFileA(cleanupCopy);
    }
    CloseHandle(self);
}

// Nonzero when path names a file in the temporary directory whose name
// starts with prefix and ends in ".exe": the cleanup stage deletes nothing
// else, whatever its command line says.
static int IsOwnTempExe(const char* path, const char* prefix)
{
    char dir[kPathSize];
    const DWORD n = GetTempPathA(kPathSize, dir);
    if (n == 0 || n >= kPathSize) return 0;
    const uint32_t length = StrLenMax(path, kPathSize);
    if (length <= n + 7 || CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path, static_cast<int>(n), dir,
                                          static_cast<int>(n)) != CSTR_EQUAL)
        return 0;
    const char* name = path + n;
    for (uint32_t i = 0; name[i]; ++i)
        if (name[i] == '\\') return 0;
    if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, name, 3, prefix, 3) != CSTR_EQUAL) return 0;
    return lstrcmpiA(path + length - 4, ".exe") == 0;
}

static int32_t ParseDecimal(const char* s)
{
    while (*s == ' ' || *s == '\t') ++s;
    int negative = 0;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    uint32_t v = 0;
    while (*s >= '0' && *s <= '9') v = v * 10 + static_cast<uint32_t>(*s++ - '0');
    return static_cast<int32_t>(negative ? 0u - v : v);
}

void RunCleanupStage(const char* handleText, const char* decodeCopyArgument)
{
    HANDLE decodeStage = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(ParseDecimal(handleText)));
    // Only a real wait on the decode stage lets us go on; a command line
    // typed by hand must not make this program delete files.
    const DWORD waited = WaitForSingleObject(decodeStage, INFINITE);
    CloseHandle(decodeStage);
    if (waited != WAIT_OBJECT_0) return;
    const char* decodeCopy = decodeCopyArgument + 3;
    if (IsOwnTempExe(decodeCopy, "DEC")) DeleteFileA(decodeCopy);
    char ownPath[kPathSize];
    const DWORD n = GetModuleFileNameA(nullptr, ownPath, kPathSize);
    if (n > 0 && n < kPathSize && IsOwnTempExe(ownPath, "Del")) SelfDelete();
}
