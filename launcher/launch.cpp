// Launch stage: copy the stub, check the integrity sum, start the copy.
#include <windows.h>

#include "integrity.h"
#include "marker.h"
#include "messages.h"
#include "shell.h"
#include "stages.h"
#include "strbuf.h"
#include "stub_state.h"

int MakeTempExeName(const char* prefix, char* path)
{
    char dir[kPathSize];
    const DWORD n = GetTempPathA(kPathSize, dir);
    if (n == 0 || n >= kPathSize) return 0;
    if (!GetTempFileNameA(dir, prefix, 0, path)) return 0;
    DeleteFileA(path);
    // Replace the system's extension; the first character is never a dot.
    uint32_t length = StrLenMax(path, kPathSize);
    for (uint32_t i = length; i-- > 1;) {
        if (path[i] == '.') {
            if (i + 5 > kPathSize) return 0;
            lstrcpyA(path + i, ".exe");
            break;
        }
    }
    return 1;
}

static void ShowTamperWarning()
{
    MessageBoxA(nullptr, Text(kMsgTamperText), Text(kMsgTamperTitle), MB_OK | MB_ICONERROR);
}

// Reads are 64 KiB, a whole number of 256-byte pieces, so the marker search
// and the sum are exactly those of a piece-by-piece reader.
static uint8_t chunk[64 * 1024];

static int WriteAll(HANDLE f, const uint8_t* data, DWORD length)
{
    DWORD written = 0;
    return WriteFile(f, data, length, &written, nullptr) && written == length;
}

int RunLaunchStage()
{
    char decodeCopy[kPathSize];
    char ownPath[kPathSize];
    if (!MakeTempExeName("DEC", decodeCopy)) return 0;
    const DWORD ownLength = GetModuleFileNameA(nullptr, ownPath, kPathSize);
    if (ownLength == 0 || ownLength >= kPathSize) return 0;

    HANDLE own = CreateFileA(ownPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (own == INVALID_HANDLE_VALUE) return 0;
    HANDLE copy = CreateFileA(decodeCopy, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (copy == INVALID_HANDLE_VALUE) {
        CloseHandle(own);
        return 0;
    }

    char marker[kMarkerTextLength + 1];
    BuildMarkerText(marker);
    uint8_t lanes[kIntegrityLanes] = {0};
    uint8_t stored[kIntegrityLanes] = {0};
    int found = 0;
    DWORD got = 0;

    // Copy loop: everything before the marker block goes to the decode copy.
    while (!found && ReadFile(own, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        DWORD piece = 0;
        while (piece < got) {
            const DWORD len = got - piece < kMarkerBlockSize ? got - piece : DWORD{kMarkerBlockSize};
            if (IsMarkerPiece(chunk + piece, len, marker)) {
                found = 1;
                break;
            }
            piece += len;
        }
        AddIntegrityLanes(lanes, chunk, piece);
        if (!WriteAll(copy, chunk, piece)) {
            // A partial copy is of no use to anyone: remove it.
            CloseHandle(copy);
            CloseHandle(own);
            DeleteFileA(decodeCopy);
            return 0;
        }
        if (found) {
            for (uint32_t j = 0; j < kIntegrityLanes; ++j) stored[j] = chunk[piece + kMarkerOffsetIntegritySum + j];
            // The rest of this chunk is the payload's first part.
            AddIntegrityLanes(lanes, chunk + piece + kMarkerBlockSize, got - piece - kMarkerBlockSize);
        }
    }
    CloseHandle(copy);

    // Sum loop: the rest of the payload.
    while (found && ReadFile(own, chunk, sizeof chunk, &got, nullptr) && got > 0)
        AddIntegrityLanes(lanes, chunk, got);
    CloseHandle(own);

    if (!found) {
        DeleteFileA(decodeCopy);
        return 0;
    }
    if (!IntegritySumsEqual(lanes, stored)) {
        // The copy of a tampered file will never run; it does not stay behind.
        ShowTamperWarning();
        DeleteFileA(decodeCopy);
        return 0;
    }

    Sleep(500);
    char argument[kPathSize + 8];
    StrBuf arg;
    StrInit(&arg, argument, sizeof argument);
    StrAdd(&arg, "\":::");
    StrAdd(&arg, ownPath);
    StrAdd(&arg, "\"");
    StartWithShell(decodeCopy, argument);
    return 1;
}
