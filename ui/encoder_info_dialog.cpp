#include "encoder_info_dialog.h"

#include "messages.h"
#include "record.h"
#include "registry_store.h"
#include "resource_ids.h"
#include "strbuf.h"

// Set afresh each time the dialog opens.
static char serialText[9];
static char encoderName[kEncoderNameSize];
static uint32_t decodeCount;
static uint32_t encoderSerial;
static int naming; // the name box has been shown by Set name

int GetLocalSerial(uint32_t* serial)
{
    char root[MAX_PATH + 2];
    const UINT n = GetWindowsDirectoryA(root, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 0;
    // The last backslash, stepping over double-byte characters: a trail
    // byte 0x5C is not a separator.
    int cut = -1;
    for (UINT i = 0; i < n; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(root[i])) && i + 1 < n) {
            ++i;
            continue;
        }
        if (root[i] == '\\') cut = static_cast<int>(i);
    }
    if (cut < 0) { // no backslash at all: the root is the whole text, then one
        cut = static_cast<int>(n);
        root[cut] = '\\';
    }
    root[cut + 1] = 0;
    char volumeName[MAX_PATH], fileSystem[MAX_PATH];
    DWORD volumeSerial = 0, maxComponent = 0, flags = 0;
    if (!GetVolumeInformationA(root, volumeName, MAX_PATH, &volumeSerial, &maxComponent, &flags, fileSystem,
                               MAX_PATH))
        return 0;
    *serial = volumeSerial;
    return 1;
}

void FormatCreatedAt(int32_t createdAt, char* out)
{
    static const char days[] = "SunMonTueWedThuFriSat";
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    // Seconds since 1970 to a FILETIME; the system then applies the local
    // time zone and daylight saving, and accepts dates before 1970 too.
    const LONGLONG units = static_cast<LONGLONG>(createdAt) * 10000000 + 116444736000000000LL;
    FILETIME utc, local;
    utc.dwLowDateTime = static_cast<DWORD>(units);
    utc.dwHighDateTime = static_cast<DWORD>(units >> 32);
    SYSTEMTIME t;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &t)) {
        lstrcpyA(out, "??? ??? ?? ??:??:?? ????");
        return;
    }
    StrBuf b;
    StrInit(&b, out, 25);
    StrAddN(&b, days + 3 * (t.wDayOfWeek % 7), 3);
    StrAdd(&b, " ");
    StrAddN(&b, months + 3 * ((t.wMonth + 11) % 12), 3);
    const WORD fields[4] = {t.wDay, t.wHour, t.wMinute, t.wSecond};
    const char separators[4] = {' ', ' ', ':', ':'};
    for (int i = 0; i < 4; ++i) {
        StrAddN(&b, separators + i, 1);
        const char two[2] = {static_cast<char>('0' + fields[i] / 10 % 10), static_cast<char>('0' + fields[i] % 10)};
        StrAddN(&b, two, 2);
    }
    StrAdd(&b, " ");
    const char year[4] = {static_cast<char>('0' + t.wYear / 1000 % 10), static_cast<char>('0' + t.wYear / 100 % 10),
                          static_cast<char>('0' + t.wYear / 10 % 10), static_cast<char>('0' + t.wYear % 10)};
    StrAddN(&b, year, 4);
}

static void FillInformation(HWND window, const RecordHeader* header)
{
    char text[1024];
    StrBuf b;
    StrInit(&b, text, sizeof text);
    StrAdd(&b, Text(kTextEncodedBy));
    StrAdd(&b, "--");
    StrAdd(&b, serialText);
    StrAdd(&b, "--\r\n");
    uint32_t local = 0;
    if (GetLocalSerial(&local) && local == header->encoderSerial) {
        StrAdd(&b, Text(kTextThisComputer));
        ShowWindow(GetDlgItem(window, IDC_SET_NAME), SW_HIDE);
    } else {
        StrAdd(&b, encoderName);
    }
    StrAdd(&b, Text(kTextEncodedByEnd));
    char date[25];
    FormatCreatedAt(header->createdAt, date);
    StrAdd(&b, date);
    StrAdd(&b, Text(kTextCreatedAt));
    if (decodeCount == 0) {
        StrAdd(&b, Text(kTextFirstTry));
    } else {
        // "%d" in the catalogue stands for the count of this try.
        const char* pattern = Text(kTextNthTry);
        for (const char* p = pattern; *p; ++p) {
            if (p[0] == '%' && p[1] == 'd') {
                StrAddInt(&b, static_cast<int32_t>(decodeCount + 1));
                ++p;
            } else {
                StrAddN(&b, p, 1);
            }
        }
    }
    SetDlgItemTextA(window, IDC_INFO_TEXT, text);
}

static void InitEncoderInfoDialog(HWND window, const RecordHeader* header)
{
    encoderSerial = header->encoderSerial;
    StrBuf b;
    StrInit(&b, serialText, sizeof serialText);
    StrAddHex8(&b, encoderSerial);
    naming = 0;
    LoadEncoderRecord(encoderSerial, encoderName, &decodeCount);
    FillInformation(window, header);
    if (!IsJapaneseMode()) {
        SetDlgItemTextA(window, IDOK, Text(kTextContinue));
        SetDlgItemTextA(window, IDC_SET_NAME, Text(kTextSetName));
    }
}

static void StartNaming(HWND window)
{
    SetDlgItemTextA(window, IDOK, Text(kTextEnd));
    HWND box = GetDlgItem(window, IDC_NAME_EDIT);
    ShowWindow(box, SW_SHOW);
    SetWindowTextA(box, encoderName);
    ShowWindow(GetDlgItem(window, IDC_SET_NAME), SW_HIDE);
    naming = 1;
}

INT_PTR CALLBACK EncoderInfoDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        InitEncoderInfoDialog(window, reinterpret_cast<const RecordHeader*>(lParam));
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
    case IDC_SET_NAME:
        StartNaming(window);
        break;
    case IDOK:
        if (naming) GetDlgItemTextA(window, IDC_NAME_EDIT, encoderName, kEncoderNameSize);
        StoreEncoderRecord(encoderSerial, encoderName, decodeCount);
        EndDialog(window, 0);
        break;
    case IDCANCEL: // Esc and the close box keep the name as loaded
        StoreEncoderRecord(encoderSerial, encoderName, decodeCount);
        EndDialog(window, 0);
        break;
    }
    return FALSE;
}
