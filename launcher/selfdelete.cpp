// Removing the running executable: a hidden batch file on the NT family, a
// routine run from the heap on the Windows 95 family.
#include <windows.h>

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

// Doubles every '%', which cmd would otherwise take for a variable.
static void AddBatchText(StrBuf* b, const char* s)
{
    for (; *s; ++s) {
        if (*s == '%') StrAdd(b, "%%");
        else StrAddN(b, s, 1);
    }
}

// Keeps deleting the target while it exists, pausing a second between tries
// (ping is the pause every NT version has) and giving up after ten minutes,
// then deletes the batch file itself.
uint32_t FormatDeleteBatch(const char* target, const char* batchPath, char* out, uint32_t capacity)
{
    StrBuf b;
    StrInit(&b, out, capacity);
    StrAdd(&b, "@echo off\r\nset n=0\r\n:Repeat\r\ndel \"");
    AddBatchText(&b, target);
    StrAdd(&b, "\"\r\nif not exist \"");
    AddBatchText(&b, target);
    StrAdd(&b, "\" goto Done\r\nset /a n+=1\r\nif %n% GEQ 600 goto Done\r\nping -n 2 127.0.0.1 >nul\r\n"
               "goto Repeat\r\n:Done\r\ndel \"");
    AddBatchText(&b, batchPath);
    StrAdd(&b, "\"\r\n");
    return b.complete ? b.length : 0;
}

// Creates the batch file at the root of the current drive, or, where a
// standard user may not create files there, in the temporary directory.
static HANDLE CreateBatch(char* batchPath)
{
    lstrcpyA(batchPath, "\\delus.bat");
    HANDLE f = CreateFileA(batchPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (f != INVALID_HANDLE_VALUE) return f;
    const DWORD n = GetTempPathA(kPathSize, batchPath);
    if (n == 0 || n + 10 >= kPathSize) return INVALID_HANDLE_VALUE;
    lstrcatA(batchPath, "delus.bat");
    return CreateFileA(batchPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

void SelfDeleteByBatch()
{
    char batchPath[kPathSize];
    HANDLE f = CreateBatch(batchPath);
    if (f == INVALID_HANDLE_VALUE) return;
    char ownPath[kPathSize];
    const DWORD n = GetModuleFileNameA(nullptr, ownPath, kPathSize);
    // cmd reads batch files in the OEM code page; the paths are ANSI.
    char oemOwn[kPathSize], oemBatch[kPathSize];
    char text[4 * kPathSize + 256];
    uint32_t length = 0;
    if (n > 0 && n < kPathSize) {
        CharToOemA(ownPath, oemOwn);
        CharToOemA(batchPath, oemBatch);
        length = FormatDeleteBatch(oemOwn, oemBatch, text, sizeof text);
    }
    DWORD written = 0;
    const BOOL ok = length && WriteFile(f, text, length, &written, nullptr) && written == length;
    CloseHandle(f);
    if (!ok) {
        DeleteFileA(batchPath);
        return;
    }

    char command[kPathSize + 16];
    StrBuf c;
    StrInit(&c, command, sizeof command);
    StrAdd(&c, "\"");
    StrAdd(&c, batchPath);
    StrAdd(&c, "\"");
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    if (!c.complete || !CreateProcessA(nullptr, command, nullptr, nullptr, FALSE,
                                       CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, nullptr, "\\", &startup,
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

void SelfDelete()
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version; // 148
    if (!GetVersionExA(&version)) return;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) SelfDeleteByBatch();
    else SelfDeleteInMemory();
}
