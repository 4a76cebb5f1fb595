// The password dialog: one decode attempt per press of OK.
#include "password_dialog.h"

#include <commdlg.h>
#include <shellapi.h>

#include "cipher.h"
#include "decode_file.h"
#include "encoder_info_dialog.h"
#include "memblock.h"
#include "messages.h"
#include "record.h"
#include "registry_store.h"
#include "resource_ids.h"
#include "sealed.h"
#include "shell.h"
#include "strbuf.h"
#include "stub_state.h"

static void Fail(HWND window, MessageId id)
{
    ShowError(window, dialogCaption, id);
}

// Whose saved password this file uses: the one classic files share, or a
// sealed file's own, by its id. A sealed file whose id cannot be had saves
// and is offered nothing, rather than the shared one.
static uint8_t fileId[kFileIdBytes];
static int fileKind; // kFileIdClassic, kFileIdSealed or kFileIdUnknown

static const uint8_t* FileId()
{
    return fileKind == kFileIdSealed ? fileId : nullptr;
}

// Moves the self-delete box into the save-password box's place and the
// buttons up by the same distance, hides the save-password box and makes
// the dialog that much shorter. Its top-left corner stays where it is.
static void CollapseSaveOption(HWND window)
{
    HWND save = GetDlgItem(window, IDC_SAVE_PASSWORD);
    HWND del = GetDlgItem(window, IDC_SELF_DELETE);
    RECT saveRect, delRect;
    GetWindowRect(save, &saveRect);
    GetWindowRect(del, &delRect);
    const int d = delRect.top - saveRect.top;

    POINT to = {saveRect.left, saveRect.top};
    ScreenToClient(window, &to);
    MoveWindow(del, to.x, to.y, delRect.right - delRect.left, delRect.bottom - delRect.top, FALSE);
    const int buttons[2] = {IDOK, IDCANCEL};
    for (int id : buttons) {
        HWND button = GetDlgItem(window, id);
        RECT r;
        GetWindowRect(button, &r);
        POINT at = {r.left, r.top};
        ScreenToClient(window, &at);
        MoveWindow(button, at.x, at.y - d, r.right - r.left, r.bottom - r.top, FALSE);
    }
    RECT dialog;
    GetWindowRect(window, &dialog);
    MoveWindow(window, dialog.left, dialog.top, dialog.right - dialog.left, dialog.bottom - dialog.top - d, FALSE);
    ShowWindow(save, SW_HIDE);
}

static void InitPasswordDialog(HWND window)
{
    if (!IsJapaneseMode()) {
        SetDlgItemTextA(window, IDC_PROMPT, Text(kTextPrompt));
        SetDlgItemTextA(window, IDC_SELF_DELETE, Text(kTextSuicide));
        SetDlgItemTextA(window, IDC_SAVE_PASSWORD, Text(kTextSavePassword));
    }
    HICON small = nullptr;
    if (ExtractIconExA(selfDecodingPath, 0, nullptr, &small, 1) && small)
        SetClassLongPtrA(window, GCLP_HICON, reinterpret_cast<LONG_PTR>(small));

    RECT desktop, dialog;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(window, &dialog);
    const int width = dialog.right - dialog.left, height = dialog.bottom - dialog.top;
    MoveWindow(window, (desktop.right - width) / 2, (desktop.bottom - height) / 2, width, height, FALSE);

    // A file that lost its marker block since the launch stage checked it
    // cannot be decoded; its flags would be guesses, so nothing goes on.
    if (!ReadMarkerBlock()) {
        Fail(window, kMsgCannotOpen);
        PostQuitMessage(0);
        return;
    }
    SetWindowTextA(window, dialogCaption);

    if (allowSavePassword == 0) {
        CollapseSaveOption(window);
    } else {
        static char saved[kSavedPasswordSize];
        fileKind = SealedFileId(fileId);
        if (fileKind != kFileIdUnknown && LoadSavedPassword(FileId(), saved)) {
            CheckDlgButton(window, IDC_SAVE_PASSWORD, BST_CHECKED);
            SetDlgItemTextA(window, IDC_PASSWORD_EDIT, saved);
        }
        SecureZeroMemory(saved, sizeof saved);
    }
    HWND del = GetDlgItem(window, IDC_SELF_DELETE);
    if (selfDeleteMode == 0) {
        CheckDlgButton(window, IDC_SELF_DELETE, BST_CHECKED);
        EnableWindow(del, FALSE);
    } else if (selfDeleteMode == 1) {
        CheckDlgButton(window, IDC_SELF_DELETE, BST_CHECKED);
    } else if (selfDeleteMode == 2) {
        CheckDlgButton(window, IDC_SELF_DELETE, BST_UNCHECKED);
    }
    ShowWindow(window, SW_SHOW);
}

// Asks where to save; the stored name, cut to its last component, is the
// initial name. On success path holds the chosen full path.
static int AskOutputPath(HWND window, const RecordHeader* header, char* path)
{
    const char* name = header->fileName;
    lstrcpynA(path, name + StoredNameLastComponent(name, GetACP() == 932), MAX_PATH);
    OPENFILENAMEA ofn;
    ZeroMemory(&ofn, sizeof ofn);
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A; // 76 bytes: every Windows version takes it
    ofn.hwndOwner = window;
    ofn.lpstrFilter = "All files (*.*)\0*.*\0";
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = dialogCaption;
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_LONGNAMES;
    return GetSaveFileNameA(&ofn) != 0;
}

static void UpdateSavedPassword(HWND window)
{
    if (allowSavePassword == 0 || fileKind == kFileIdUnknown) return;
    if (IsDlgButtonChecked(window, IDC_SAVE_PASSWORD) != BST_CHECKED) {
        ForgetPassword(FileId());
        return;
    }
    static char text[kSavedPasswordSize];
    const int n = GetDlgItemTextA(window, IDC_PASSWORD_EDIT, text, kSavedPasswordSize);
    SavePassword(FileId(), text, n > 0 ? static_cast<uint32_t>(n) : 0);
    SecureZeroMemory(text, sizeof text);
}

// The password field's text, in a heap buffer with room for the key string,
// which the caller wipes and frees; null when no memory is left.
static char* TakePassword(HWND window, uint32_t* length, uint32_t* capacity)
{
    HWND edit = GetDlgItem(window, IDC_PASSWORD_EDIT);
    const int textLength = GetWindowTextLengthA(edit);
    *capacity = static_cast<uint32_t>(textLength > 0 ? textLength : 0) + kKeyStringSlack;
    char* text = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, *capacity));
    if (!text) return nullptr;
    const int n = GetWindowTextA(edit, text, static_cast<int>(*capacity));
    *length = n > 0 ? static_cast<uint32_t>(n) : 0;
    return text;
}

// The message for each failure of the decode work, in DecodeStatus order.
static const uint8_t kFailureMessage[] = {
    0,              0,               kMsgWrongPassword, kMsgTamperText,   kMsgDamaged,
    kMsgNewerVersion, kMsgNoCrypto,  kMsgNoFileSize,    kMsgCannotOpen,   kMsgCannotRead,
    kMsgNoMemory,   kMsgNoMemoryLock, kMsgCannotCreate, kMsgCannotWrite,
};

static void ReportFailure(HWND window, int status)
{
    // A changed caption or flags get the same warning as a changed file.
    if (status == kDecodeTampered)
        MessageBoxA(window, Text(kMsgTamperText), Text(kMsgTamperTitle), MB_OK | MB_ICONERROR);
    else
        Fail(window, static_cast<MessageId>(kFailureMessage[status]));
}

// A long wait (reading, checking and expanding a large file) shows how far
// it has come in the dialog's title, "37% - caption", once it has taken
// more than a second; between the steps every window of ours repaints
// (and nothing else happens), and the wait cursor stays up.
static HWND progressWindow;
static DWORD progressStart;
static uint32_t progressShown; // the per cent in the title, or kNoProgress
enum : uint32_t { kNoProgress = 0xFFFFFFFFu };

static void BeginProgress(HWND window)
{
    progressWindow = window;
    progressStart = GetTickCount();
    progressShown = kNoProgress;
}

static void ShowProgress(uint32_t percent)
{
    if (percent > 100) percent = 100;
    if (percent != progressShown && GetTickCount() - progressStart >= 1000) {
        char title[sizeof dialogCaption + 8];
        wsprintfA(title, "%u%% - %s", percent, dialogCaption);
        SetWindowTextA(progressWindow, title);
        progressShown = percent;
    }
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageA(&msg);
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

static void EndProgress()
{
    if (progressShown != kNoProgress) SetWindowTextA(progressWindow, dialogCaption);
    progressShown = kNoProgress;
}

static int DecodeAndSave(HWND window)
{
    HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    HCURSOR previous = SetCursor(wait);
    int result = 0;
    uint32_t passwordLength = 0, capacity = 0;
    char* password = TakePassword(window, &passwordLength, &capacity);
    MemBlock block = {0, 0, nullptr, nullptr};
    RecordHeader header;
    char path[MAX_PATH];
    BeginProgress(window);
    int status = password ? DecodeRecord(password, passwordLength, capacity, &block, &header, ShowProgress)
                          : kDecodeNoMemory;
    EndProgress();
    if (password) {
        SecureWipe(password, capacity);
        HeapFree(GetProcessHeap(), 0, password);
    }
    if (status != kDecodeOk) {
        SetCursor(previous);
        ReportFailure(window, status);
        return 0;
    }
    if (showEncoderInfo)
        DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_ENCODER_INFO), window, EncoderInfoDialogProc,
                        reinterpret_cast<LPARAM>(&header));

    SetCursor(previous);
    if (AskOutputPath(window, &header, path)) {
        // The box counts from the moment the name is confirmed, but the file
        // is deleted only once its contents exist elsewhere.
        const int deleteSelf = IsDlgButtonChecked(window, IDC_SELF_DELETE) == BST_CHECKED;
        SetCursor(wait);
        BeginProgress(window);
        status = WriteDecodedFile(path, &header, &block, ShowProgress);
        EndProgress();
        SetCursor(previous);
        if (status != kDecodeOk) {
            ReportFailure(window, status);
        } else {
            UpdateSavedPassword(window);
            // Deleted only once the output is flushed and in place, and never
            // when the output is the self-decoding file under another spelling.
            if (deleteSelf && DifferentFiles(path, selfDecodingPath)) DeleteFileA(selfDecodingPath);
            result = 1;
        }
    }
    DecodeRelease(&block);
    // The save dialog may have made the chosen file's folder the current one.
    if (result && openAfterDecode) StartWithShell(path, nullptr);
    return result;
}

INT_PTR CALLBACK PasswordDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        InitPasswordDialog(window);
        return FALSE;
    }
    if (message == WM_COMMAND) {
        if (LOWORD(wParam) == IDOK) {
            if (DecodeAndSave(window)) PostQuitMessage(0);
        } else if (LOWORD(wParam) == IDCANCEL) {
            PostQuitMessage(0);
        }
    }
    return FALSE;
}
