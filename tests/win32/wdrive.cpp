// Drives and observes the stub's windows from inside the same Wine prefix:
// finds dialogs by class and caption, reads control texts, presses buttons.
// Texts are printed as hex so Shift-JIS survives the trip to the shell.
//
//   wdrive box MS             wait for a message box; print "TITLE_HEX TEXT_HEX"; press OK
//   wdrive none MS            print every dialog that appears within MS ms ("none" if none)
//   wdrive dialog TITLE_HEX MS  wait for a dialog with that caption; print its hwnd
//   wdrive text HWND ID       print a control's text as hex
//   wdrive items HWND ID      print a combo box's list, one item per line as hex
//   wdrive settext HWND ID HEX  set a control's text
//   wdrive click HWND ID      post a button click (BM_CLICK)
//   wdrive command HWND ID    post WM_COMMAND with the id
//   wdrive state HWND ID      print "visible enabled checked" as 0/1 and the rectangle
//   wdrive rect HWND          print the window rectangle
//   wdrive gone HWND MS       wait until the window is gone
//   wdrive save TITLE_HEX PATH_HEX|cancel MS  fill in the save dialog and press Save; prints the offered name
//   wdrive hold PATH_HEX MS   keep a file open without sharing for MS ms
//   wdrive answer MS ID       press button ID of the next message box
//   wdrive serial ROOT        print the volume serial of a drive root
//   wdrive cleanup EXE_HEX ARG_HEX  start EXE as a cleanup stage: a real, inheritable
//                             handle to this process, then ARG; this process ends at once
//   wdrive short PATH_HEX     print the short (8.3) spelling of a path as hex
//   wdrive drop HWND PATH_HEX drop a file on a window, as Explorer does (WM_DROPFILES)
//
// Every time in milliseconds is multiplied by LUMISAFE_TIME_SCALE (1 when
// unset): under emulation everything takes several times longer, and a wait
// tuned for a native machine would run out before the window comes.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static std::string Hex(const char* s)
{
    std::string out;
    char b[3];
    for (; *s; ++s) {
        std::snprintf(b, sizeof b, "%02X", static_cast<unsigned char>(*s));
        out += b;
    }
    return out.empty() ? "-" : out;
}

// A control's text. GetWindowText does not ask a control of another process,
// so the message is sent.
static void ControlText(HWND w, char* out, int capacity)
{
    out[0] = 0;
    DWORD_PTR ignored;
    SendMessageTimeoutA(w, WM_GETTEXT, static_cast<WPARAM>(capacity), reinterpret_cast<LPARAM>(out), SMTO_ABORTIFHUNG,
                        5000, &ignored);
}

static std::string Unhex(const char* h)
{
    std::string out;
    if (std::strcmp(h, "-") == 0) return out;
    for (; h[0] && h[1]; h += 2) {
        char b[3] = {h[0], h[1], 0};
        out.push_back(static_cast<char>(std::strtoul(b, nullptr, 16)));
    }
    return out;
}

// What kind of #32770 window a search wants.
enum Kind { kAny, kMessageBox, kSaveDialog, kPlainDialog };

struct Search {
    const char* title; // null: any
    Kind kind;
    HWND found;
};

static bool IsMessageBox(HWND w) { return GetDlgItem(w, 0xFFFF) != nullptr; }
static bool IsSaveDialog(HWND w) { return GetDlgItem(w, 0x47C) != nullptr; }

static BOOL CALLBACK FindDialog(HWND w, LPARAM p)
{
    Search* s = reinterpret_cast<Search*>(p);
    char cls[64];
    if (!IsWindowVisible(w) || !GetClassNameA(w, cls, sizeof cls) || std::strcmp(cls, "#32770") != 0) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == GetCurrentProcessId()) return TRUE;
    if (s->title) {
        char t[512];
        GetWindowTextA(w, t, sizeof t);
        if (std::strcmp(t, s->title) != 0) return TRUE;
    }
    if (s->kind == kMessageBox && !IsMessageBox(w)) return TRUE;
    if (s->kind == kSaveDialog && !IsSaveDialog(w)) return TRUE;
    if (s->kind == kPlainDialog && (IsMessageBox(w) || IsSaveDialog(w))) return TRUE;
    s->found = w;
    return FALSE;
}

static HWND WaitDialog(const char* title, DWORD ms, Kind kind = kAny)
{
    const DWORD start = GetTickCount();
    for (;;) {
        Search s = {title, kind, nullptr};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        if (GetTickCount() - start > ms) return nullptr;
        Sleep(50);
    }
}

struct ChildSearch {
    int id;
    const char* cls;
    HWND found;
};

static BOOL CALLBACK FindChildProc(HWND w, LPARAM p)
{
    ChildSearch* s = reinterpret_cast<ChildSearch*>(p);
    char cls[64];
    if (GetDlgCtrlID(w) == s->id && GetClassNameA(w, cls, sizeof cls) && lstrcmpiA(cls, s->cls) == 0) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}

// A descendant with the id and class: the save dialog nests its name box.
static HWND FindChild(HWND parent, int id, const char* cls)
{
    ChildSearch s = {id, cls, nullptr};
    EnumChildWindows(parent, FindChildProc, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

static BOOL CALLBACK PrintChild(HWND c, LPARAM)
{
    char cls[64], text[256];
    GetClassNameA(c, cls, sizeof cls);
    ControlText(c, text, sizeof text);
    std::printf("%s %d %s %d\n", cls, GetDlgCtrlID(c), Hex(text).c_str(), IsWindowVisible(c) ? 1 : 0);
    return TRUE;
}

// A time scaled for the machine the tests run on.
static DWORD Scaled(DWORD ms)
{
    static DWORD scale = 0;
    if (scale == 0) {
        const char* env = std::getenv("LUMISAFE_TIME_SCALE");
        const long s = env ? std::strtol(env, nullptr, 10) : 1;
        scale = s >= 1 && s <= 100 ? static_cast<DWORD>(s) : 1;
    }
    return ms * scale;
}

// A time from the command line, scaled.
static DWORD Ms(const char* text)
{
    const long ms = std::strtol(text, nullptr, 10);
    return ms <= 0 || ms > 3600000 ? 0 : Scaled(static_cast<DWORD>(ms));
}

static HWND Control(const char* hwndText, const char* idText)
{
    HWND w = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::strtoll(hwndText, nullptr, 0)));
    return GetDlgItem(w, std::atoi(idText));
}

int main(int argc, char** argv)
{
    if (argc < 3) return 2;
    const std::string cmd = argv[1];
    if (cmd == "copy" && argc >= 4) {
        // copy SRC_HEX DST_HEX: copy a file into a folder created on the way,
        // so that Wine itself names both in the code page of the moment
        const std::string src = Unhex(argv[2]), dst = Unhex(argv[3]);
        const std::string dir = dst.substr(0, dst.rfind('\\'));
        CreateDirectoryA(dir.c_str(), nullptr);
        return CopyFileA(src.c_str(), dst.c_str(), FALSE) ? 0 : 1;
    }
    if (cmd == "run") {
        // run PATH_HEX: start a program by a path that the shell would mangle
        const std::string path = Unhex(argv[2]);
        std::string command = "\"" + path + "\"";
        STARTUPINFOA si;
        ZeroMemory(&si, sizeof si);
        si.cb = sizeof si;
        PROCESS_INFORMATION pi;
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            std::printf("CreateProcess failed: %lu (attributes %lx, code page %u)\n", GetLastError(),
                        GetFileAttributesA(path.c_str()), GetACP());
            return 1;
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return 0;
    }
    if (cmd == "loadsafe") {
        // loadsafe NAME: the same, after restricting DLL search to system32
        typedef BOOL(WINAPI * SetDirectories)(DWORD);
        const SetDirectories set = reinterpret_cast<SetDirectories>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
        std::printf("SetDefaultDllDirectories %s\n", set ? (set(0x800) ? "ok" : "failed") : "missing");
        HMODULE m = LoadLibraryA(argv[2]);
        char path[MAX_PATH] = "";
        if (m) GetModuleFileNameA(m, path, MAX_PATH);
        std::printf("%s %s\n", m ? "loaded" : "not loaded", path);
        return 0;
    }
    if (cmd == "load") {
        // load NAME: LoadLibrary with the default search order (the control
        // for the planted-DLL test)
        HMODULE m = LoadLibraryA(argv[2]);
        std::puts(m ? "loaded" : "not loaded");
        return 0;
    }
    if (cmd == "serial") {
        // serial ROOT: the volume serial as the stub reads it
        DWORD serial = 0;
        if (!GetVolumeInformationA(argv[2], nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) return 1;
        std::printf("%08lX\n", static_cast<unsigned long>(serial));
        return 0;
    }
    if (cmd == "box") {
        HWND w = WaitDialog(nullptr, Ms(argv[2]), kMessageBox);
        if (!w) {
            std::puts("timeout");
            return 1;
        }
        Sleep(300); // let the box finish painting before it goes
        char title[512], text[2048];
        GetWindowTextA(w, title, sizeof title);
        ControlText(GetDlgItem(w, 0xFFFF), text, sizeof text);
        std::printf("%s %s\n", Hex(title).c_str(), Hex(text).c_str());
        PostMessageA(w, WM_COMMAND, IDOK, 0);
        return 0;
    }
    if (cmd == "answer" && argc >= 4) {
        // answer MS ID: press a button of the next message box
        HWND w = WaitDialog(nullptr, Ms(argv[2]), kMessageBox);
        if (!w) {
            std::puts("timeout");
            return 1;
        }
        Sleep(300);
        char text[2048];
        ControlText(GetDlgItem(w, 0xFFFF), text, sizeof text);
        std::printf("%s\n", Hex(text).c_str());
        PostMessageA(w, WM_COMMAND, static_cast<WPARAM>(std::atoi(argv[3])), 0);
        return 0;
    }
    if (cmd == "tree") {
        // tree TITLE_HEX: every child of the first dialog with that title
        const std::string title = Unhex(argv[2]);
        HWND w = WaitDialog(title.c_str(), 5000, argc >= 4 ? kSaveDialog : kAny);
        if (!w) return 1;
        EnumChildWindows(w, PrintChild, 0);
        return 0;
    }
    if (cmd == "none") {
        const DWORD ms = Ms(argv[2]);
        HWND w = WaitDialog(nullptr, ms);
        if (!w) {
            std::puts("none");
            return 0;
        }
        char title[512];
        GetWindowTextA(w, title, sizeof title);
        std::printf("dialog %s\n", Hex(title).c_str());
        PostMessageA(w, WM_COMMAND, IDOK, 0);
        return 1;
    }
    if (cmd == "dialog" && argc >= 4) {
        const std::string title = Unhex(argv[2]);
        HWND w = WaitDialog(title.c_str(), Ms(argv[3]), kPlainDialog);
        if (!w) {
            std::puts("timeout");
            return 1;
        }
        std::printf("%ld\n", static_cast<long>(reinterpret_cast<INT_PTR>(w)));
        return 0;
    }
    if (cmd == "save" && argc >= 5) {
        // save TITLE_HEX PATH_HEX|cancel MS: fill in the save dialog and press Save (or cancel it).
        const std::string title = Unhex(argv[2]);
        HWND w = WaitDialog(title.c_str(), Ms(argv[4]), kSaveDialog);
        if (!w) {
            std::puts("timeout");
            return 1;
        }
        Sleep(300);
        if (std::strcmp(argv[3], "cancel") == 0) {
            PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
            std::puts("cancelled");
            return 0;
        }
        char initial[1024] = {0};
        HWND edit = FindChild(w, 0x47C, "Edit");
        if (!edit) edit = GetDlgItem(w, 0x47C);
        ControlText(edit, initial, sizeof initial);
        SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Unhex(argv[3]).c_str()));
        HWND save = FindChild(w, IDOK, "Button");
        PostMessageA(save ? save : w, save ? BM_CLICK : WM_COMMAND, save ? 0 : IDOK, 0);
        std::printf("%s\n", Hex(initial).c_str()); // the name the dialog offered
        return 0;
    }
    if (cmd == "cleanup" && argc >= 4) {
        // The handle the decode stage hands down: a process that ends when we do.
        HANDLE self = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, TRUE, GetCurrentProcessId());
        if (!self) return 1;
        std::string command = "\"" + Unhex(argv[2]) + "\" " +
                              std::to_string(static_cast<long>(reinterpret_cast<INT_PTR>(self))) + " \"" +
                              Unhex(argv[3]) + "\"";
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
            return 1;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return 0;
    }
    if (cmd == "short" && argc >= 3) {
        char out[MAX_PATH];
        const DWORD n = GetShortPathNameA(Unhex(argv[2]).c_str(), out, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return 1;
        std::printf("%s\n", Hex(out).c_str());
        return 0;
    }
    if (cmd == "drop" && argc >= 4) {
        // The drop block must be made in the window's own process: a message
        // hook from drop_hook.dll (beside this program) makes it there.
        HWND w = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::strtoll(argv[2], nullptr, 0)));
        char dll[MAX_PATH];
        const DWORD n = GetModuleFileNameA(nullptr, dll, MAX_PATH);
        char* slash = std::strrchr(dll, '\\');
        if (n == 0 || !slash) return 1;
        lstrcpyA(slash + 1, "drop_hook.dll");
        HMODULE module = LoadLibraryA(dll);
        HOOKPROC proc = module ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, "DropHookProc"))) : nullptr;
        HHOOK hook = proc ? SetWindowsHookExA(WH_GETMESSAGE, proc, module, GetWindowThreadProcessId(w, nullptr)) : nullptr;
        const ATOM atom = GlobalAddAtomA(Unhex(argv[3]).c_str());
        // The hook says when it has posted the drop: only then may it go.
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, "lumisafe-test-drop-done");
        if (!hook || !atom || !done) return 1;
        PostMessageA(w, RegisterWindowMessageA("lumisafe-test-drop"), 0, atom);
        const bool dropped = WaitForSingleObject(done, Scaled(20000)) == WAIT_OBJECT_0;
        UnhookWindowsHookEx(hook);
        GlobalDeleteAtom(atom);
        CloseHandle(done);
        return dropped ? 0 : 1;
    }
    if (cmd == "hold" && argc >= 4) {
        // hold PATH_HEX MS: keep a file open without sharing, as another program might.
        HANDLE f = CreateFileA(Unhex(argv[2]).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) return 1;
        std::puts("holding");
        std::fflush(stdout);
        Sleep(Ms(argv[3]));
        CloseHandle(f);
        return 0;
    }
    if (cmd == "text" && argc >= 4) {
        char text[4096] = {0};
        ControlText(Control(argv[2], argv[3]), text, sizeof text);
        std::printf("%s\n", Hex(text).c_str());
        return 0;
    }
    if (cmd == "items" && argc >= 4) {
        // The list of a Unicode window, read as such and shown in the ANSI
        // code page like every other text here: Wine hands another process
        // the wide text whatever the A call asked for.
        HWND box = Control(argv[2], argv[3]);
        const LRESULT count = SendMessageW(box, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t wide[2048] = {0};
            if (SendMessageW(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >= 2048) continue;
            SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide));
            char text[4096] = {0};
            WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text - 1, nullptr, nullptr);
            std::printf("%s\n", Hex(text).c_str());
        }
        return count >= 0 ? 0 : 1;
    }
    if (cmd == "settext" && argc >= 5) {
        const std::string text = Unhex(argv[4]);
        return SendMessageA(Control(argv[2], argv[3]), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) ? 0 : 1;
    }
    if (cmd == "click" && argc >= 4) {
        return PostMessageA(Control(argv[2], argv[3]), BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (cmd == "command" && argc >= 4) {
        HWND w = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::strtoll(argv[2], nullptr, 0)));
        return PostMessageA(w, WM_COMMAND, static_cast<WPARAM>(std::atoi(argv[3])), 0) ? 0 : 1;
    }
    if (cmd == "state" && argc >= 4) {
        HWND c = Control(argv[2], argv[3]);
        if (!c) {
            std::puts("missing");
            return 1;
        }
        RECT r;
        GetWindowRect(c, &r);
        std::printf("%d %d %d %ld %ld %ld %ld\n", IsWindowVisible(c) ? 1 : 0, IsWindowEnabled(c) ? 1 : 0,
                    SendMessageA(c, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0, r.left, r.top, r.right, r.bottom);
        return 0;
    }
    if (cmd == "rect") {
        HWND w = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::strtoll(argv[2], nullptr, 0)));
        RECT r;
        if (!GetWindowRect(w, &r)) return 1;
        std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
        return 0;
    }
    if (cmd == "gone" && argc >= 4) {
        HWND w = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::strtoll(argv[2], nullptr, 0)));
        const DWORD start = GetTickCount();
        while (IsWindow(w)) {
            if (GetTickCount() - start > Ms(argv[3])) return 1;
            Sleep(50);
        }
        return 0;
    }
    return 2;
}
