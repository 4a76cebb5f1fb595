// The decode stage's hand-over to the cleanup stage, and the cleanup stage:
// wait for the decode stage to end, delete its executable, then our own.
#include <windows.h>

#include "cleanup_rules.h"
#include "stages.h"
#include "strbuf.h"
#include "stub_state.h"

// Two paths of up to 259 bytes, a handle number and the punctuation.
enum { kCleanupCommandSize = 2 * kPathSize + 64 };
enum { kOpenChildAttempts = 20, kOpenChildPauseMs = 500 };
enum { kDeleteAttempts = 50, kDeletePauseMs = 100 };

void StartCleanupStage()
{
    char ownPath[kPathSize];
    char cleanupCopy[kPathSize];
    const DWORD n = GetModuleFileNameA(nullptr, ownPath, kPathSize);
    if (n == 0 || n >= kPathSize) return;
    if (!MakeTempExeName("Del", cleanupCopy)) return;
    CopyFileA(ownPath, cleanupCopy, FALSE);

    // Query access lets the cleanup stage make sure it waits on a process.
    HANDLE self = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, TRUE, GetCurrentProcessId());
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

// The temporary directory, made absolute and normalised like the paths it is
// compared with. 0 when the system gives none.
static int NormalTempDir(char* dir)
{
    char raw[kPathSize];
    const DWORD n = GetTempPathA(kPathSize, raw);
    if (n == 0 || n >= kPathSize) return 0;
    const DWORD m = GetFullPathNameA(raw, kPathSize, dir, nullptr);
    if (m == 0 || m >= kPathSize) return 0;
    if (dir[m - 1] != '\\') {
        if (m + 1 >= kPathSize) return 0;
        dir[m] = '\\';
        dir[m + 1] = 0;
    }
    return 1;
}

// Nonzero when path, once the system has resolved it (both separators, "..",
// "."), names one of our own temporary copies: prefix, hex digits and ".exe",
// directly in the temporary directory. The cleanup stage deletes nothing else,
// whatever its command line says. fullPath receives the resolved path.
static int IsOwnTempExe(const char* path, const char* prefix, char* fullPath)
{
    char dir[kPathSize];
    if (!NormalTempDir(dir)) return 0;
    const DWORD n = GetFullPathNameA(path, kPathSize, fullPath, nullptr);
    if (n == 0 || n >= kPathSize) return 0;
    return IsOwnTempPath(fullPath, dir, prefix, GetACP() == 932);
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
    // Only a real wait on a process lets us go on: a command line typed by
    // hand, or an event handed down by whoever started us, must not make this
    // program delete files. GetExitCodeProcess takes process handles only.
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(decodeStage, &exitCode)) return;
    const DWORD waited = WaitForSingleObject(decodeStage, INFINITE);
    CloseHandle(decodeStage);
    if (waited != WAIT_OBJECT_0) return;
    // The process has ended, but the system may hold its image a moment
    // longer: retry for a few seconds rather than leave the copy behind.
    char decodeCopy[kPathSize];
    if (IsOwnTempExe(decodeCopyArgument + 3, "DEC", decodeCopy)) {
        for (int attempt = 0; attempt < kDeleteAttempts && !DeleteFileA(decodeCopy); ++attempt) Sleep(kDeletePauseMs);
    }
    char ownPath[kPathSize], ownFull[kPathSize];
    const DWORD n = GetModuleFileNameA(nullptr, ownPath, kPathSize);
    if (n > 0 && n < kPathSize && IsOwnTempExe(ownPath, "Del", ownFull)) SelfDelete(ownFull);
}
