// Removing the running executable: a hidden batch file on the NT family, a
// routine run from the heap on the Windows 95 family.
#include <windows.h>

#include "cleanup_rules.h"
#include "record.h"
#include "stages.h"
#include "strbuf.h"
#include "stub_state.h"

// mov esi,[esp+4]; push [esi]; call [esi+4]; lea eax,[esi+12]; push eax;
// call [esi+8]; push [esi+0x114]; call [esi+0x110]; then int3 filler.
const uint8_t kUnmapAndDelete[kUnmapAndDeleteSize] = {
    0x8B, 0x74, 0x24, 0x04,             // mov esi, [esp+4]     ; the record
    0xFF, 0x36,                         // push dword [esi]     ; module
    0xFF, 0x56, 0x04,                   // call [esi+4]         ; freeLibrary
    0x8D, 0x46, 0x0C,                   // lea eax, [esi+12]    ; modulePath
    0x50,                               // push eax
    0xFF, 0x56, 0x08,                   // call [esi+8]         ; deleteFile
    0xFF, 0xB6, 0x14, 0x01, 0x00, 0x00, // push dword [esi+276] ; exitCode
    0xFF, 0x96, 0x10, 0x01, 0x00, 0x00, // call [esi+272]       ; exitProcess
    0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC,
    0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC,
};

// The batch file goes beside our own file, in the user's own temporary
// folder (no other user may change files there), under our own unique name
// with ".bat": never a shared place such as the root of a drive. CREATE_NEW,
// so an existing file is never reused; a stale one of our own name is a
// leftover of ours and is replaced once.
static HANDLE CreateBatch(const char* batchPath)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE f = CreateFileA(batchPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (f != INVALID_HANDLE_VALUE || attempt) return f;
        DeleteFileA(batchPath);
    }
    return INVALID_HANDLE_VALUE;
}

// The batch names both files relative to its current folder, which is ours.
// Names of the form Del1A2B.exe are plain ASCII, so nothing in the batch
// depends on the code page cmd reads it in, and nothing can end a quotation
// or expand a variable, however odd the user's folder names are; the folder
// itself reaches cmd only as the process's current directory, unconverted.
void SelfDeleteByBatch(const char* ownPath)
{
    char folder[kPathSize], batchPath[kPathSize], batchName[kPathSize];
    const int dbcs = GetACP() == 932;
    const uint32_t nameAt = static_cast<uint32_t>(StoredNameLastComponent(ownPath, dbcs));
    const char* ownName = ownPath + nameAt;
    const uint32_t nameLength = StrLenMax(ownName, kPathSize);
    if (nameAt == 0 || nameLength < 5 || !IsBatchSafeName(ownName)) return;
    lstrcpynA(folder, ownPath, static_cast<int>(nameAt + 1));
    lstrcpynA(batchPath, ownPath, kPathSize);
    lstrcpyA(batchPath + nameAt + nameLength - 4, ".bat");
    lstrcpyA(batchName, ownName);
    lstrcpyA(batchName + nameLength - 4, ".bat");

    char text[512];
    const uint32_t length = FormatDeleteBatch(ownName, batchName, text, sizeof text);
    if (!length) return;
    HANDLE f = CreateBatch(batchPath);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    const BOOL ok = WriteFile(f, text, length, &written, nullptr) && written == length;
    CloseHandle(f);
    if (!ok) {
        DeleteFileA(batchPath);
        return;
    }

    // cmd from the system directory, by its full name; /d skips AutoRun
    // commands, /c runs the batch and ends. Nothing on this line is expanded.
    char cmd[kPathSize], command[kPathSize];
    const UINT n = GetSystemDirectoryA(cmd, kPathSize);
    StrBuf a, c;
    StrInit(&a, cmd + (n < kPathSize ? n : 0), kPathSize - (n < kPathSize ? n : 0));
    StrAdd(&a, "\\cmd.exe");
    StrInit(&c, command, sizeof command);
    StrAdd(&c, "cmd.exe /d /c ");
    StrAdd(&c, batchName);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    if (n == 0 || n >= kPathSize || !a.complete || !c.complete ||
        !CreateProcessA(cmd, command, nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED | IDLE_PRIORITY_CLASS | CREATE_NO_WINDOW, nullptr, folder, &startup,
                        &process)) {
        DeleteFileA(batchPath);
        return;
    }
    SetThreadPriority(process.hThread, THREAD_PRIORITY_IDLE);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    CloseHandle(process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
}

void SelfDeleteInMemory()
{
    HMODULE kernel = GetModuleHandleA("KERNEL32");
    if (!kernel) return;
    SelfDeleteRecord record;
    ZeroMemory(&record, sizeof record);
    HMODULE self = GetModuleHandleA(nullptr);
    record.module = static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(self));
    record.freeLibrary = static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(GetProcAddress(kernel, "FreeLibrary")));
    record.deleteFile = static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(GetProcAddress(kernel, "DeleteFileA")));
    record.exitProcess = static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(GetProcAddress(kernel, "ExitProcess")));
    const DWORD n = GetModuleFileNameA(self, record.modulePath, sizeof record.modulePath);
    if (!record.freeLibrary || !record.deleteFile || !record.exitProcess || n == 0 || n >= sizeof record.modulePath)
        return;
    void* code = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kUnmapAndDeleteSize);
    if (!code) return;
    CopyMemory(code, kUnmapAndDelete, kUnmapAndDeleteSize);
    typedef void(WINAPI * Routine)(SelfDeleteRecord*);
    reinterpret_cast<Routine>(code)(&record);
}

void SelfDelete(const char* ownPath)
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version; // 148
    if (!GetVersionExA(&version)) return;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) SelfDeleteByBatch(ownPath);
    else SelfDeleteInMemory();
}
