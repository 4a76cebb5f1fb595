// The tool's host layer on Windows: every name goes through the wide-character
// API, so any name Windows allows can be read and written whatever the ANSI
// code page; texts reach the program as UTF-8.
#include "hostfs.h"

#include <windows.h>

#include <cstdlib>
#include <io.h>
#include <cstring>
#include <memory>

#include "record.h"
#include "tool_ids.h"
#include "wide_text.h"

namespace {

std::wstring Wide(const std::string& utf8)
{
    return WideFromUtf8(utf8);
}

std::string Utf8(const wchar_t* text, size_t length)
{
    return Utf8FromWide(text, length);
}

// A name for the file API. Past MAX_PATH a name only works in the \\?\ form,
// which takes a full path with backslashes only.
std::wstring FilePath(const std::string& path)
{
    const std::wstring w = Wide(path);
    if (w.size() < MAX_PATH - 12 || w.rfind(L"\\\\?\\", 0) == 0) return w;
    const DWORD need = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
    if (need == 0) return w;
    std::wstring full(need, L'\0');
    const DWORD got = GetFullPathNameW(w.c_str(), need, &full[0], nullptr);
    if (got == 0 || got >= need) return w;
    full.resize(got);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// The system's words for an error, in UTF-8, on one line.
std::string ErrorText(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n ? Utf8(text, n) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out;
}

uint64_t Join64(DWORD high, DWORD low)
{
    return (static_cast<uint64_t>(high) << 32) | low;
}

FILETIME SplitTime(uint64_t t)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

HANDLE Handle(const PendingFile* f)
{
    return reinterpret_cast<HANDLE>(f->handle);
}

// The temporary file that Ctrl-C or a closed console must not leave behind.
// It is opened with delete sharing, so it can be deleted while open.
wchar_t pendingTemp[32768];
volatile LONG havePendingTemp;

// The console input whose echo is off while a password is typed: Ctrl-C
// there must give the echo back, or the console is left typing blind.
HANDLE quietConsole;
DWORD consoleModeBefore;

BOOL WINAPI OnConsoleEvent(DWORD)
{
    if (quietConsole) SetConsoleMode(quietConsole, consoleModeBefore);
    if (InterlockedExchange(&havePendingTemp, 0)) DeleteFileW(pendingTemp);
    return FALSE; // and the default handling ends the process
}

// The console's output code page before this program set UTF-8.
UINT savedOutputCodepage;

void RestoreConsole()
{
    if (savedOutputCodepage) SetConsoleOutputCP(savedOutputCodepage);
}

// DLLs from the system directory only: a DLL planted beside the program or
// in the current folder is never loaded (SetDefaultDllDirectories needs
// Windows 7 with KB2533623 or later; without it the default search stays).
void RestrictDllSearch()
{
    typedef BOOL(WINAPI * SetDirectories)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const SetDirectories set = kernel ? reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
                                            GetProcAddress(kernel, "SetDefaultDllDirectories")))
                                      : nullptr;
    if (set) set(0x00000800); // LOAD_LIBRARY_SEARCH_SYSTEM32
    SetDllDirectoryW(L"");
}

} // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    RestrictDllSearch();
    if (GetConsoleOutputCP() != CP_UTF8) {
        savedOutputCodepage = GetConsoleOutputCP();
        if (savedOutputCodepage && SetConsoleOutputCP(CP_UTF8)) std::atexit(RestoreConsole);
        else savedOutputCodepage = 0;
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    // The ANSI arguments lose every character outside the code page; the
    // wide command line has them all.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(Utf8(wide[i], wcslen(wide[i])));
    LocalFree(wide);
    return out;
}

std::FILE* OpenForReading(const std::string& path)
{
    return _wfopen(FilePath(path).c_str(), L"rb");
}

bool OpenFileSize(std::FILE* f, uint64_t* size)
{
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    LARGE_INTEGER n;
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &n) || n.QuadPart < 0)
        return false;
    *size = static_cast<uint64_t>(n.QuadPart);
    return true;
}

bool BuiltInStub(std::vector<uint8_t>* stub)
{
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_DECODER_STUB), MAKEINTRESOURCEW(10)); // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = found ? SizeofResource(nullptr, found) : 0;
    if (!bytes || size == 0) return false;
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    stub->assign(p, p + size);
    return true;
}

bool StatFile(const std::string& path, FileMeta* meta, std::string* error)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(FilePath(path).c_str(), GetFileExInfoStandard, &data)) {
        *error = path + ": " + ErrorText(GetLastError());
        return false;
    }
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
        *error = path + ": not a regular file";
        return false;
    }
    meta->creationTime = Join64(data.ftCreationTime.dwHighDateTime, data.ftCreationTime.dwLowDateTime);
    meta->lastAccessTime = Join64(data.ftLastAccessTime.dwHighDateTime, data.ftLastAccessTime.dwLowDateTime);
    meta->lastWriteTime = Join64(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    meta->attributes = data.dwFileAttributes;
    meta->size = Join64(data.nFileSizeHigh, data.nFileSizeLow);
    return true;
}

bool IsDirectory(const std::string& path)
{
    const DWORD a = GetFileAttributesW(FilePath(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesW(FilePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SameFile(const std::string& a, const std::string& b)
{
    BY_HANDLE_FILE_INFORMATION info[2];
    const std::string* paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        // No access asked: only the identity is read, whoever holds the file.
        const HANDLE h = CreateFileW(FilePath(*paths[i]).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        const BOOL ok = GetFileInformationByHandle(h, &info[i]);
        CloseHandle(h);
        if (!ok) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Where the name's root ends: "C:\" (3), "C:" (2), "\" (1), "\\server\share\" or 0.
size_t RootLength(const std::string& p)
{
    if (p.size() >= 2 && p[1] == ':') return p.size() >= 3 && IsSeparator(p[2]) ? 3 : 2;
    if (p.size() >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
        size_t i = 2, parts = 0;
        while (i < p.size() && parts < 2) {
            if (IsSeparator(p[i])) ++parts;
            ++i;
        }
        return i;
    }
    return !p.empty() && IsSeparator(p[0]) ? 1 : 0;
}

size_t LastSeparator(const std::string& p)
{
    for (size_t i = p.size(); i > 0; --i)
        if (IsSeparator(p[i - 1])) return i - 1;
    return std::string::npos;
}

} // namespace

// UTF-8 has no byte 0x5C or 0x2F inside a character, so the separators can be
// found byte by byte.
std::string BaseName(const std::string& path)
{
    std::string p = path;
    const size_t root = RootLength(p);
    while (p.size() > root && p.size() > 1 && IsSeparator(p.back())) p.pop_back();
    const size_t cut = LastSeparator(p);
    if (cut == std::string::npos) return p.substr(root < p.size() ? root : p.size());
    return p.substr(cut + 1);
}

std::string DirName(const std::string& path)
{
    const size_t root = RootLength(path);
    const size_t cut = LastSeparator(path);
    if (cut == std::string::npos || cut < root) return root ? path.substr(0, root) : ".";
    return cut + 1 <= root ? path.substr(0, root) : path.substr(0, cut);
}

std::string JoinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty()) return name;
    if (IsSeparator(dir.back()) || (dir.size() == 2 && dir[1] == ':')) return dir + name;
    return dir + "\\" + name;
}

std::string ExecutableDir()
{
    std::wstring buf(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
    if (n == 0 || n >= buf.size()) return ".";
    return DirName(Utf8(buf.data(), n));
}

bool PendingOpen(PendingFile* f, const std::string& target, bool, std::string* error)
{
    f->target = target;
    f->handle = -1;
    // A short name of its own beside the target, so that the final move stays
    // on one volume and the target's name may be as long as Windows allows.
    const std::string dir = DirName(target);
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        seed = seed * 1103515245u + 12345u;
        std::snprintf(name, sizeof name, ".lumisafe-%06lX", static_cast<unsigned long>((seed >> 8) & 0xFFFFFF));
        const std::string temp = JoinPath(dir, name);
        const std::wstring wtemp = FilePath(temp);
        if (wtemp.size() >= sizeof pendingTemp / sizeof pendingTemp[0]) {
            *error = target + ": path too long";
            return false;
        }
        const HANDLE h = CreateFileW(wtemp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) continue;
            *error = dir + ": " + ErrorText(code);
            return false;
        }
        f->handle = reinterpret_cast<intptr_t>(h);
        f->temp = temp;
        std::memcpy(pendingTemp, wtemp.c_str(), (wtemp.size() + 1) * sizeof(wchar_t));
        InterlockedExchange(&havePendingTemp, 1);
        return true;
    }
    *error = dir + ": no free temporary name";
    return false;
}

bool PendingWrite(PendingFile* f, const void* data, size_t length, std::string* error)
{
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        const DWORD piece = length > (1u << 30) ? (1u << 30) : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(Handle(f), p, piece, &written, nullptr) || written == 0) {
            *error = f->target + ": " + ErrorText(GetLastError());
            return false;
        }
        p += written;
        length -= written;
    }
    return true;
}

bool PendingCommit(PendingFile* f, const FileMeta* meta, bool overwrite, std::string* error)
{
    if (!FlushFileBuffers(Handle(f))) {
        *error = f->target + ": " + ErrorText(GetLastError());
        return false;
    }
    if (meta) {
        // A time of 0 is left as the system set it.
        const FILETIME c = SplitTime(meta->creationTime), a = SplitTime(meta->lastAccessTime),
                       w = SplitTime(meta->lastWriteTime);
        SetFileTime(Handle(f), meta->creationTime ? &c : nullptr, meta->lastAccessTime ? &a : nullptr,
                    meta->lastWriteTime ? &w : nullptr);
    }
    const BOOL closed = CloseHandle(Handle(f));
    f->handle = -1;
    if (!closed) {
        *error = f->target + ": " + ErrorText(GetLastError());
        return false;
    }
    const std::wstring temp = FilePath(f->temp), target = FilePath(f->target);
    if (meta) {
        const DWORD attributes = OutputAttributes(meta->attributes);
        SetFileAttributesW(temp.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
    }
    // Replacing a read-only file takes its bit away first; it comes back if
    // the replace fails.
    DWORD oldAttributes = INVALID_FILE_ATTRIBUTES;
    if (overwrite) {
        oldAttributes = GetFileAttributesW(target.c_str());
        if (oldAttributes != INVALID_FILE_ATTRIBUTES && (oldAttributes & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesW(target.c_str(), oldAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        else oldAttributes = INVALID_FILE_ATTRIBUTES;
    }
    // Without MOVEFILE_REPLACE_EXISTING an existing target is never replaced,
    // also one that appeared since the check.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (overwrite ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(temp.c_str(), target.c_str(), flags)) {
        const DWORD code = GetLastError();
        if (oldAttributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(target.c_str(), oldAttributes);
        *error = f->target + ": " +
                 (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS ? "exists (use --force to overwrite)"
                                                                             : ErrorText(code));
        return false;
    }
    InterlockedExchange(&havePendingTemp, 0);
    f->temp.clear();
    return true;
}

void PendingAbandon(PendingFile* f)
{
    if (f->handle != -1) CloseHandle(Handle(f));
    f->handle = -1;
    if (!f->temp.empty()) {
        const std::wstring temp = FilePath(f->temp);
        SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(temp.c_str());
    }
    f->temp.clear();
    InterlockedExchange(&havePendingTemp, 0);
}

int ReadSecret(const char* prompt, Secret* out)
{
    SecretClear(out);
    // The console itself, also when the standard streams are redirected.
    const HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return kSecretNoTerminal;
    DWORD mode = 0;
    if (!GetConsoleMode(in, &mode)) {
        CloseHandle(in);
        return kSecretNoTerminal;
    }
    const HANDLE con = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    // Echo off before the prompt shows: whatever is typed once it is there
    // stays off the screen, however quickly it comes.
    consoleModeBefore = mode;
    quietConsole = in;
    SetConsoleMode(in, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    const std::wstring wprompt = Wide(prompt);
    DWORD written;
    if (con != INVALID_HANDLE_VALUE) WriteConsoleW(con, wprompt.c_str(), static_cast<DWORD>(wprompt.size()), &written, nullptr);
    // The typed characters in one buffer of fixed size, wiped below: a
    // growing string would leave copies behind.
    const size_t kTypedMax = kDecoderPasswordMax + 1;
    std::unique_ptr<wchar_t[]> typed(new wchar_t[kTypedMax]);
    size_t typedLength = 0;
    wchar_t buf[256];
    bool ended = false, done = false, fits = true;
    while (!done) {
        DWORD n = 0;
        if (!ReadConsoleW(in, buf, sizeof buf / sizeof buf[0], &n, nullptr) || n == 0) {
            ended = true;
            break;
        }
        for (DWORD i = 0; i < n && !done; ++i) {
            if (buf[i] == L'\n') done = true;
            else if (buf[i] == 0x1A && typedLength == 0) ended = done = true; // Ctrl-Z: the end of input
            else if (buf[i] == L'\r') continue;
            else if (typedLength < kTypedMax) typed[typedLength++] = buf[i];
            else fits = false;
        }
    }
    SecureZeroMemory(buf, sizeof buf);
    SetConsoleMode(in, mode);
    quietConsole = nullptr;
    if (con != INVALID_HANDLE_VALUE) {
        WriteConsoleW(con, L"\r\n", 2, &written, nullptr);
        CloseHandle(con);
    }
    CloseHandle(in);
    int converted = 0;
    if (fits && typedLength > 0) {
        converted = WideCharToMultiByte(CP_UTF8, 0, typed.get(), static_cast<int>(typedLength),
                                      reinterpret_cast<char*>(out->bytes), static_cast<int>(out->capacity), nullptr,
                                      nullptr);
        fits = converted > 0;
    }
    SecureZeroMemory(typed.get(), kTypedMax * sizeof(wchar_t));
    if (!fits) {
        SecretClear(out);
        return kSecretTooLong;
    }
    out->length = static_cast<size_t>(converted);
    out->bytes[out->length] = 0;
    return ended ? kSecretEnd : kSecretRead;
}

bool StderrIsTerminal()
{
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool ConsoleClosesWithProgram()
{
    // A console of its own (no shell attached to it) and typed input.
    DWORD processes[2], mode;
    return GetConsoleProcessList(processes, 2) == 1 && GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

// A crash ends the process on the spot: no error report, whose dump would
// carry the process's memory, the password with it.
static LONG WINAPI EndWithoutReport(EXCEPTION_POINTERS* e)
{
    TerminateProcess(GetCurrentProcess(), e && e->ExceptionRecord ? e->ExceptionRecord->ExceptionCode : 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

void ProtectProcessMemory()
{
    const UINT mode = SetErrorMode(0);
    SetErrorMode(mode | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndWithoutReport);
    // Vista and later: keep the heap out of any report still made (a debugger
    // attached, say). Looked up, since XP's kernel32 lacks it.
    typedef HRESULT(WINAPI * WerSetFlagsFn)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const WerSetFlagsFn werSetFlags =
        kernel ? reinterpret_cast<WerSetFlagsFn>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "WerSetFlags")))
               : nullptr;
    if (werSetFlags) werSetFlags(1); // WER_FAULT_REPORTING_FLAG_NOHEAP
}

uint32_t MachineSerial()
{
    // The decoder's encoder information dialog reads the same number.
    wchar_t windows[MAX_PATH + 1], root[MAX_PATH + 1];
    const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !GetVolumePathNameW(windows, root, MAX_PATH)) return 0;
    DWORD serial = 0;
    if (!GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) return 0;
    return serial;
}
