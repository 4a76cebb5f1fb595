// The password dialog: one decode attempt per press of OK.
#include "password_dialog.h"

#include <commdlg.h>
#include <shellapi.h>

#include "cipher.h"
#include "encoder_info_dialog.h"
#include "lzap.h"
#include "memblock.h"
#include "messages.h"
#include "record.h"
#include "registry_store.h"
#include "resource_ids.h"
#include "stages.h"
#include "strbuf.h"
#include "stub_state.h"

// The decompressor's tables exist once per process.
static LzapDecoder decoder;

static void Fail(HWND window, MessageId id)
{
    ShowError(window, dialogCaption, id);
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
        SetClassLongA(window, GCL_HICON, static_cast<LONG>(reinterpret_cast<INT_PTR>(small)));

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
        if (LoadSavedPassword(saved)) {
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

// Reads the payload into a new locked block of its own size.
static int ReadPayload(HWND window, MemBlock* block)
{
    HANDLE f = CreateFileA(selfDecodingPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        Fail(window, kMsgNoFileSize);
        return 0;
    }
    const DWORD fileSize = GetFileSize(f, nullptr);
    CloseHandle(f);
    // A file cut short since the launch stage checked it has no payload to read.
    if (fileSize == INVALID_FILE_SIZE || fileSize < payloadOffset + 2) {
        Fail(window, kMsgCannotRead);
        return 0;
    }
    const DWORD size = fileSize - payloadOffset;
    HGLOBAL memory = GlobalAlloc(0x1072, size); // movable, zeroed; one attempt
    if (!memory) {
        Fail(window, kMsgNoMemory);
        return 0;
    }
    uint8_t* address = static_cast<uint8_t*>(GlobalLock(memory));
    if (!address) {
        Fail(window, kMsgNoMemoryLock);
        GlobalFree(memory);
        return 0;
    }
    MemBlockAdopt(block, memory, address, size, size);
    f = CreateFileA(selfDecodingPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        Fail(window, kMsgCannotOpen);
        MemBlockFree(block);
        return 0;
    }
    DWORD got = 0;
    const BOOL ok = SetFilePointer(f, static_cast<LONG>(payloadOffset), nullptr, FILE_BEGIN) == payloadOffset &&
                    ReadFile(f, address, size, &got, nullptr) && got == size;
    if (!ok) {
        Fail(window, kMsgCannotRead);
        CloseHandle(f);
        MemBlockFree(block);
        return 0;
    }
    CloseHandle(f);
    return 1;
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

// Identity of the file at path (volume serial and file index), which every
// spelling of it shares: short names, other drive letters, UNC paths.
static int FileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info)
{
    HANDLE f = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 0;
    const BOOL ok = GetFileInformationByHandle(f, info);
    CloseHandle(f);
    return ok != 0;
}

// Nonzero only when both paths are known to name two different files.
static int DifferentFiles(const char* a, const char* b)
{
    BY_HANDLE_FILE_INFORMATION x, y;
    return FileIdentity(a, &x) && FileIdentity(b, &y) &&
           (x.dwVolumeSerialNumber != y.dwVolumeSerialNumber || x.nFileIndexHigh != y.nFileIndexHigh ||
            x.nFileIndexLow != y.nFileIndexLow);
}

// Writes all of content to a new file beside path, flushed and with its
// times: a failure or a kill leaves the target as it was.
static int WriteBeside(HWND window, const char* path, const RecordHeader* header, const uint8_t* content,
                       char* temporary)
{
    char folder[MAX_PATH];
    lstrcpynA(folder, path, MAX_PATH);
    folder[StoredNameLastComponent(folder, GetACP() == 932)] = 0;
    if (!folder[0] || !GetTempFileNameA(folder, "lsf", 0, temporary)) {
        Fail(window, kMsgCannotCreate);
        return 0;
    }
    HANDLE out = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        Fail(window, kMsgCannotCreate);
        DeleteFileA(temporary);
        return 0;
    }
    DWORD written = 0;
    FILETIME times[3];
    const uint64_t values[3] = {header->creationTime, header->lastAccessTime, header->lastWriteTime};
    for (int i = 0; i < 3; ++i) {
        times[i].dwLowDateTime = static_cast<DWORD>(values[i]);
        times[i].dwHighDateTime = static_cast<DWORD>(values[i] >> 32);
    }
    const BOOL ok = WriteFile(out, content, header->contentLength, &written, nullptr) &&
                    written == header->contentLength && FlushFileBuffers(out);
    if (ok) SetFileTime(out, &times[0], &times[1], &times[2]);
    if (!CloseHandle(out) || !ok) {
        Fail(window, kMsgCannotWrite);
        DeleteFileA(temporary);
        return 0;
    }
    return 1;
}

// Puts the written file in the target's place in one step. A read-only
// target the user chose to replace loses that bit first (and gets it back if
// the replacement fails); systems without MoveFileExA delete, then rename.
static int ReplaceTarget(const char* temporary, const char* path)
{
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExA(temporary, path, flags)) return 1;
    if (GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
        DeleteFileA(path);
        return MoveFileA(temporary, path) != 0;
    }
    const DWORD old = GetFileAttributesA(path);
    if (old == INVALID_FILE_ATTRIBUTES || !(old & FILE_ATTRIBUTE_READONLY)) return 0;
    SetFileAttributesA(path, old & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (MoveFileExA(temporary, path, flags)) return 1;
    SetFileAttributesA(path, old);
    return 0;
}

// Writes the decoded file at path with its times and attributes. Until the
// last step the target (which may be the self-decoding file itself) is
// untouched, and a failure leaves nothing partial behind.
static int WriteOutput(HWND window, const char* path, const RecordHeader* header, const uint8_t* content)
{
    char temporary[MAX_PATH];
    if (!WriteBeside(window, path, header, content, temporary)) return 0;
    if (!ReplaceTarget(temporary, path)) {
        Fail(window, kMsgCannotCreate);
        DeleteFileA(temporary);
        return 0;
    }
    SetFileAttributesA(path, OutputAttributes(header->attributes));
    return 1;
}

static void UpdateSavedPassword(HWND window)
{
    if (allowSavePassword == 0) return;
    if (IsDlgButtonChecked(window, IDC_SAVE_PASSWORD) != BST_CHECKED) {
        ForgetPassword();
        return;
    }
    static char text[kSavedPasswordSize];
    const int n = GetDlgItemTextA(window, IDC_PASSWORD_EDIT, text, kSavedPasswordSize);
    SavePassword(text, n > 0 ? static_cast<uint32_t>(n) : 0);
    SecureZeroMemory(text, sizeof text);
}

// Builds the key string from the password field, in a buffer of the text's
// length + 64 bytes. Returns it (HeapFree'd by the caller) or null.
static char* TakeKeyString(HWND window, uint32_t* keyLength)
{
    HWND edit = GetDlgItem(window, IDC_PASSWORD_EDIT);
    const int textLength = GetWindowTextLengthA(edit);
    const uint32_t capacity = static_cast<uint32_t>(textLength > 0 ? textLength : 0) + kKeyStringSlack;
    char* key = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, capacity));
    if (!key) return nullptr;
    const int n = GetWindowTextA(edit, key, static_cast<int>(capacity));
    *keyLength = BuildKeyString(reinterpret_cast<const uint8_t*>(key), n > 0 ? static_cast<uint32_t>(n) : 0, key,
                                capacity);
    return key;
}

static int DecodeAndSave(HWND window)
{
    HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    HCURSOR previous = SetCursor(wait);
    int result = 0;
    uint32_t keyLength = 0;
    char* key = TakeKeyString(window, &keyLength);
    MemBlock block = {0, 0, nullptr, nullptr};
    RecordHeader header;
    char path[MAX_PATH];

    if (!key || keyLength == 0) {
        Fail(window, kMsgNoMemory);
        goto end;
    }
    if (!ReadPayload(window, &block)) goto end;
    DecipherPayload(block.address, block.size, key, keyLength);
    if (!Decompress(&decoder, &block)) {
        // A mistyped password often keeps the magic and makes a stream that
        // breaks off; only a failed allocation is something else.
        Fail(window, decoder.status == kLzapNoMemory ? kMsgNoMemory : kMsgWrongPassword);
        goto release;
    }
    if (ReadRecord(block.address, block.size, &header) != kRecordOk) {
        Fail(window, kMsgWrongPassword);
        goto release;
    }
    if (showEncoderInfo)
        DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_ENCODER_INFO), window, EncoderInfoDialogProc,
                        reinterpret_cast<LPARAM>(&header));

    SetCursor(previous);
    if (!AskOutputPath(window, &header, path)) goto release;
    {
        // The box counts from the moment the name is confirmed, but the file
        // is deleted only once its contents exist elsewhere.
        const int deleteSelf = IsDlgButtonChecked(window, IDC_SELF_DELETE) == BST_CHECKED;
        SetCursor(wait);
        if (!WriteOutput(window, path, &header, block.address + kRecordContentOffset)) goto release;
        UpdateSavedPassword(window);
        // Deleted only once the output is flushed and in place, and never
        // when the output is the self-decoding file under another spelling.
        if (deleteSelf && DifferentFiles(path, selfDecodingPath)) DeleteFileA(selfDecodingPath);
        result = 1;
    }
release:
    MemBlockFree(&block);
    // The save dialog may have made the chosen file's folder the current one.
    if (result && openAfterDecode) StartWithShell(path, nullptr);
end:
    SetCursor(previous);
    if (key) {
        SecureZeroMemory(key, keyLength);
        HeapFree(GetProcessHeap(), 0, key);
    }
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
