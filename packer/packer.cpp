// lumisafe-pack: one window that packs a file into a password-protected
// self-decoding file, for people who never open a console. The packing itself
// is the command-line tool's (pack.h); this file is only the window.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <new>
#include <string>

#include "pack.h"
#include "sealed.h"
#include "packer_ids.h"
#include "packer_texts.h"
#include "sfx.h"
#include "wide_text.h"

namespace {

enum { WM_PACK_PROGRESS = WM_APP + 1, WM_PACK_DONE };

// The stage shown while the payload is sealed and written, after the last
// progress report of the input.
enum { kStageWriting = 100 };

// The one packing job; the worker thread owns it from start to WM_PACK_DONE.
struct Job {
    PackPlan plan;
    Secret password;
    volatile LONG cancel = 0;
    int rc = 0;
    std::string error;
    PackResult result;
    HANDLE thread = nullptr;
    int shownStage = -1;
    int shownPermille = -1;
};

HWND dialog;
Job job;
bool busy, closeWhenDone;
bool settingText;                  // our own text changes are not the user's edits
bool captionEdited, outputEdited;  // then no longer proposed from the input
std::wstring replaceConfirmed;     // an output the Save As dialog already asked about
std::wstring startInput;           // a file dropped on the program's icon

std::wstring Wide(const std::string& utf8)
{
    return WideFromUtf8(utf8);
}

std::string Utf8(const std::wstring& text)
{
    return Utf8FromWide(text.data(), text.size());
}

template <typename Text> void Wipe(Text* s)
{
    if (!s->empty()) SecureWipe(&(*s)[0], s->size() * sizeof((*s)[0]));
    s->clear();
}

std::wstring ItemText(int id)
{
    const HWND item = GetDlgItem(dialog, id);
    const int n = GetWindowTextLengthW(item);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    const int got = GetWindowTextW(item, &text[0], n + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

void SetItemText(int id, const std::wstring& text)
{
    settingText = true;
    SetDlgItemTextW(dialog, id, text.c_str());
    settingText = false;
}

// The texts' %s, in order.
std::wstring Format(const wchar_t* pattern, const std::wstring& first, const std::wstring& second = std::wstring())
{
    std::wstring out = pattern;
    const std::wstring* args[2] = {&first, &second};
    size_t from = 0;
    for (const std::wstring* arg : args) {
        const size_t at = out.find(L"%s", from);
        if (at == std::wstring::npos) break;
        out.replace(at, 2, *arg);
        from = at + arg->size();
    }
    return out;
}

int Ask(const std::wstring& text, UINT flags)
{
    wchar_t title[128];
    if (GetWindowTextW(dialog, title, 128) <= 0) lstrcpyW(title, L"lumisafe");
    return MessageBoxW(dialog, text.c_str(), title, flags);
}

void Focus(int id)
{
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
}

// The caption's choices: one that names nothing (a sealed file's default,
// since the caption is readable without the password) and one that names
// the file (the classic form's). Until the user edits or picks one, the
// caption follows the input and the form.
void ProposeCaption()
{
    const std::string input = Utf8(ItemText(IDC_INPUT));
    const bool classic = IsDlgButtonChecked(dialog, IDC_CLASSIC) == BST_CHECKED;
    const HWND box = GetDlgItem(dialog, IDC_CAPTION);
    const std::wstring typed = ItemText(IDC_CAPTION); // emptying the list empties the text too
    settingText = true;
    SendMessageW(box, CB_RESETCONTENT, 0, 0);
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(kSealedCaption).c_str()));
    if (!input.empty()) SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(NamedCaption(input)).c_str()));
    settingText = false;
    if (captionEdited) SetItemText(IDC_CAPTION, typed);
    else SetItemText(IDC_CAPTION, Wide(input.empty() ? std::string(kSealedCaption) : DefaultCaption(input, classic)));
}

// The caption and the output follow the input until the user edits them.
void ProposeFromInput()
{
    const std::string input = Utf8(ItemText(IDC_INPUT));
    if (input.empty()) return;
    ProposeCaption();
    if (!outputEdited) SetItemText(IDC_OUTPUT, Wide(JoinPath(DirName(input), PackedFileName(input))));
}

void SetInput(const std::wstring& path)
{
    std::wstring full(32768, L'\0');
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    full.resize(n > 0 && n < full.size() ? n : 0);
    SetDlgItemTextW(dialog, IDC_INPUT, (full.empty() ? path : full).c_str()); // EN_CHANGE proposes the rest
    Focus(IDC_PASSWORD);
}

void OnDrop(HDROP drop)
{
    const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    const UINT got = DragQueryFileW(drop, 0, &path[0], length + 1);
    DragFinish(drop);
    path.resize(got);
    if (busy || path.empty()) return;
    if (IsDirectory(Utf8(path))) {
        Ask(PackerTextOf(kTextNotAFile), MB_OK | MB_ICONWARNING);
        return;
    }
    SetInput(path);
}

// "Text\0*.ext\0" pairs for the file dialogs, ending in an empty one.
std::wstring Filter(int text, const wchar_t* pattern)
{
    std::wstring f = PackerTextOf(text);
    f.push_back(L'\0');
    f += pattern;
    f.push_back(L'\0');
    return f;
}

// The common part of both file dialogs: the name buffer, the filter, the title.
OPENFILENAMEW FileDialog(std::wstring* name, const std::wstring& filter, int title)
{
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dialog;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = &(*name)[0];
    ofn.nMaxFile = static_cast<DWORD>(name->size());
    ofn.lpstrTitle = PackerTextOf(title);
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    return ofn;
}

void BrowseInput()
{
    std::wstring name(32768, L'\0');
    const std::wstring filter = Filter(kTextAllFiles, L"*.*") + L'\0';
    OPENFILENAMEW ofn = FileDialog(&name, filter, kTextOpenTitle);
    ofn.Flags |= OFN_FILEMUSTEXIST;
    if (GetOpenFileNameW(&ofn)) SetInput(name.c_str());
}

void BrowseOutput()
{
    std::wstring name(32768, L'\0');
    const std::wstring current = ItemText(IDC_OUTPUT);
    if (current.size() < name.size()) current.copy(&name[0], current.size());
    const std::wstring filter = Filter(kTextPrograms, L"*.exe") + Filter(kTextAllFiles, L"*.*") + L'\0';
    OPENFILENAMEW ofn = FileDialog(&name, filter, kTextSaveTitle);
    ofn.lpstrDefExt = L"exe";
    ofn.Flags |= OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&ofn)) return;
    const std::wstring chosen = name.c_str();
    SetItemText(IDC_OUTPUT, chosen);
    outputEdited = true;
    replaceConfirmed = chosen; // the dialog asked already if it exists
}

void SetBusy(bool on)
{
    busy = on;
    static const int kInputs[] = {IDC_INPUT, IDC_INPUT_BROWSE, IDC_PASSWORD, IDC_CONFIRM, IDC_CAPTION,
                                  IDC_OPEN_AFTER, IDC_SHOW_ENCODER, IDC_SAVE_PASSWORD, IDC_SELF_DELETE,
                                  IDC_SEALED, IDC_CLASSIC, IDC_OUTPUT, IDC_OUTPUT_BROWSE, IDOK};
    for (int id : kInputs) EnableWindow(GetDlgItem(dialog, id), on ? FALSE : TRUE);
    SetDlgItemTextW(dialog, IDCANCEL, PackerTextOf(on ? kTextCancel : kTextClose));
    DragAcceptFiles(dialog, on ? FALSE : TRUE);
    if (!on) Focus(IDOK);
}

// Called on the worker thread: reports only when the shown value changes.
bool ReportProgress(int stage, uint64_t done, uint64_t total)
{
    if (job.cancel) return false;
    // Reading for the check value is the first 30 %, compressing (or
    // copying) the next 65 %, sealing and writing the rest.
    const uint64_t part = total ? done * 1000 / total : 1000;
    int permille = stage == kPackReading ? static_cast<int>(part * 300 / 1000)
                                         : 300 + static_cast<int>(part * 650 / 1000);
    int shown = stage;
    if (stage != kPackReading && done >= total) {
        shown = kStageWriting;
        permille = 950;
    }
    if (shown != job.shownStage || permille != job.shownPermille) {
        job.shownStage = shown;
        job.shownPermille = permille;
        PostMessageW(dialog, WM_PACK_PROGRESS, static_cast<WPARAM>(shown), permille);
    }
    return true;
}

DWORD WINAPI PackThread(void*)
{
    try {
        job.rc = PackWrite(job.plan, job.password, ReportProgress, &job.result, &job.error);
    } catch (const std::bad_alloc&) {
        job.rc = kExitIo;
        job.error = "out of memory";
    } catch (...) {
        job.rc = kExitIo;
        job.error = "unexpected failure";
    }
    SecretClear(&job.password);
    PostMessageW(dialog, WM_PACK_DONE, 0, 0);
    return 0;
}

void ShowStage(int stage)
{
    const int text = stage == kPackReading      ? kTextReading
                     : stage == kPackCompressing ? kTextCompressing
                     : stage == kPackStoring     ? kTextStoring
                                                 : kTextWriting;
    SetDlgItemTextW(dialog, IDC_STATUS, PackerTextOf(text));
}

PackRequest ReadRequest()
{
    PackRequest r;
    r.input = Utf8(ItemText(IDC_INPUT));
    r.output = Utf8(ItemText(IDC_OUTPUT));
    r.caption = Utf8(ItemText(IDC_CAPTION));
    r.haveCaption = !r.caption.empty();
    r.openAfter = IsDlgButtonChecked(dialog, IDC_OPEN_AFTER) == BST_CHECKED;
    r.showEncoder = IsDlgButtonChecked(dialog, IDC_SHOW_ENCODER) == BST_CHECKED;
    r.savePassword = IsDlgButtonChecked(dialog, IDC_SAVE_PASSWORD) == BST_CHECKED;
    // The list reads from the mildest to the strictest; the marker block
    // counts the other way (0 always, 1 on, 2 off).
    const LRESULT choice = SendDlgItemMessageW(dialog, IDC_SELF_DELETE, CB_GETCURSEL, 0, 0);
    r.selfDeleteMode = choice == 2 ? 0 : choice == 1 ? 1 : 2;
    r.classic = IsDlgButtonChecked(dialog, IDC_CLASSIC) == BST_CHECKED;
    return r;
}

// Both boxes hold the same, non-empty password; else says which is wrong.
bool PasswordsAgree()
{
    std::wstring password = ItemText(IDC_PASSWORD), confirm = ItemText(IDC_CONFIRM);
    const bool empty = password.empty(), same = password == confirm;
    Wipe(&password);
    Wipe(&confirm);
    if (!empty && same) return true;
    Ask(PackerTextOf(same ? kTextTypePassword : kTextPasswordsDiffer), MB_OK | MB_ICONWARNING);
    if (!same) SetItemText(IDC_CONFIRM, L"");
    Focus(same ? IDC_PASSWORD : IDC_CONFIRM);
    return false;
}

// Checks what the user gave, asks what must be asked, then starts the work.
void OnPack()
{
    if (busy) return;
    const std::wstring input = ItemText(IDC_INPUT), output = ItemText(IDC_OUTPUT);
    if (input.empty()) {
        Ask(PackerTextOf(kTextChooseFile), MB_OK | MB_ICONINFORMATION);
        Focus(IDC_INPUT);
        return;
    }
    if (IsDirectory(Utf8(input))) {
        Ask(PackerTextOf(kTextNotAFile), MB_OK | MB_ICONWARNING);
        Focus(IDC_INPUT);
        return;
    }
    if (!PasswordsAgree()) return;
    if (output.empty()) {
        Ask(PackerTextOf(kTextChooseOutput), MB_OK | MB_ICONINFORMATION);
        Focus(IDC_OUTPUT);
        return;
    }
    PackRequest request = ReadRequest();
    const std::string outputUtf8 = Utf8(output);
    if (PathExists(outputUtf8) && !IsDirectory(outputUtf8)) {
        if (output != replaceConfirmed &&
            Ask(Format(PackerTextOf(kTextReplace), output), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
            return;
        request.force = true;
    }
    std::string error;
    job.plan = PackPlan();
    const int rc = PackCheck(request, &job.plan, &error);
    if (rc != kExitOk) {
        Ask(Format(PackerTextOf(kTextFailed), Wide(error)), MB_OK | MB_ICONERROR);
        return;
    }
    if (!job.plan.warnings.empty()) {
        std::string all;
        for (const std::string& w : job.plan.warnings) all += (all.empty() ? "" : "\n") + w;
        if (Ask(Format(PackerTextOf(kTextWarnings), Wide(all)), MB_OKCANCEL | MB_ICONWARNING) != IDOK) return;
    }
    // The password leaves its box only now, for the worker, which wipes it.
    std::wstring password = ItemText(IDC_PASSWORD);
    SecretClear(&job.password);
    const int n = password.empty() ? 0
                                   : WideCharToMultiByte(CP_UTF8, 0, password.data(), static_cast<int>(password.size()),
                                                         reinterpret_cast<char*>(job.password.bytes),
                                                         static_cast<int>(job.password.capacity), nullptr, nullptr);
    job.password.length = n > 0 ? static_cast<size_t>(n) : 0;
    Wipe(&password);
    job.cancel = 0;
    job.rc = 0;
    job.error.clear();
    job.result = PackResult();
    job.shownStage = job.shownPermille = -1;
    SetBusy(true);
    SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    ShowStage(kPackReading);
    DWORD id;
    job.thread = CreateThread(nullptr, 0, PackThread, nullptr, 0, &id);
    if (!job.thread) {
        SecretClear(&job.password);
        SetBusy(false);
        Ask(Format(PackerTextOf(kTextFailed), L"CreateThread"), MB_OK | MB_ICONERROR);
    }
}

void OnDone()
{
    WaitForSingleObject(job.thread, INFINITE);
    CloseHandle(job.thread);
    job.thread = nullptr;
    SetBusy(false);
    if (closeWhenDone) {
        EndDialog(dialog, 0);
        return;
    }
    if (job.rc == kExitOk) {
        SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, 1000, 0);
        const std::wstring text = Format(PackerTextOf(kTextDone), Wide(job.result.outputPath),
                                         std::to_wstring(job.result.fileLength));
        SetDlgItemTextW(dialog, IDC_STATUS, text.c_str());
        // The passwords are not kept on screen once they have done their work.
        SetItemText(IDC_PASSWORD, L"");
        SetItemText(IDC_CONFIRM, L"");
        Ask(text, MB_OK | MB_ICONINFORMATION);
    } else if (job.rc == kPackCancelled) {
        SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
        SetDlgItemTextW(dialog, IDC_STATUS, PackerTextOf(kTextCancelled));
    } else {
        SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
        SetDlgItemTextW(dialog, IDC_STATUS, L"");
        Ask(Format(PackerTextOf(kTextFailed), Wide(job.error)), MB_OK | MB_ICONERROR);
    }
}

void OnInit(HWND window)
{
    dialog = window;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    for (int size : {ICON_BIG, ICON_SMALL}) {
        const int px = GetSystemMetrics(size == ICON_BIG ? SM_CXICON : SM_CXSMICON);
        const HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(IDI_PACKER), IMAGE_ICON, px, px, LR_SHARED);
        SendMessageW(window, WM_SETICON, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(icon));
    }
    for (int text : {kTextNeverDelete, kTextDeleteOn, kTextDeleteAlways})
        SendDlgItemMessageW(window, IDC_SELF_DELETE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(PackerTextOf(text)));
    SendDlgItemMessageW(window, IDC_SELF_DELETE, CB_SETCURSEL, 0, 0);
    CheckRadioButton(window, IDC_SEALED, IDC_CLASSIC, IDC_SEALED);
    ProposeCaption();
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETRANGE32, 0, 1000);
    DragAcceptFiles(window, TRUE);
    if (!startInput.empty()) SetInput(startInput);
}

void OnClose(bool windowClosing)
{
    if (!busy) {
        EndDialog(dialog, 0);
        return;
    }
    // The worker stops at its next piece and removes its temporary file.
    InterlockedExchange(&job.cancel, 1);
    if (windowClosing) closeWhenDone = true;
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInit(window);
        return startInput.empty() ? TRUE : FALSE; // FALSE: the focus was set
    case WM_DROPFILES:
        OnDrop(reinterpret_cast<HDROP>(wParam));
        return TRUE;
    case WM_PACK_PROGRESS:
        ShowStage(static_cast<int>(wParam));
        SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(lParam), 0);
        return TRUE;
    case WM_PACK_DONE:
        OnDone();
        return TRUE;
    case WM_CLOSE:
        OnClose(true);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: OnPack(); return TRUE;
        case IDCANCEL: OnClose(false); return TRUE;
        case IDC_INPUT_BROWSE: BrowseInput(); return TRUE;
        case IDC_OUTPUT_BROWSE: BrowseOutput(); return TRUE;
        case IDC_INPUT:
            if (HIWORD(wParam) == EN_CHANGE) ProposeFromInput();
            return TRUE;
        case IDC_CAPTION:
            if (HIWORD(wParam) == CBN_EDITCHANGE && !settingText) captionEdited = !ItemText(IDC_CAPTION).empty();
            if (HIWORD(wParam) == CBN_SELCHANGE && !settingText) captionEdited = true;
            return TRUE;
        case IDC_SEALED:
        case IDC_CLASSIC:
            if (HIWORD(wParam) == BN_CLICKED) ProposeCaption();
            return TRUE;
        case IDC_OUTPUT:
            if (HIWORD(wParam) == EN_CHANGE && !settingText) outputEdited = !ItemText(IDC_OUTPUT).empty();
            return TRUE;
        }
        break;
    }
    return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // Also restricts DLL loading to the system directory.
    const std::vector<std::string> args = ProgramArguments(0, nullptr);
    if (args.size() >= 2) startInput = Wide(args[1]);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    DialogBoxParamW(instance, MAKEINTRESOURCEW(PackerIsJapanese() ? IDD_PACKER_JA : IDD_PACKER), nullptr, DialogProc, 0);
    return 0;
}
