#include "stub_state.h"

#include <windows.h>

#include "marker.h"

char selfDecodingPath[kPathSize];
char dialogCaption[kPathSize];
uint32_t payloadOffset;
uint8_t markerBlock[256];
int32_t openAfterDecode;
int32_t selfDeleteMode;
int32_t allowSavePassword;
int32_t showEncoderInfo;

enum { kOpenAttempts = 20, kOpenPauseMs = 100 };

static HANDLE OpenForReading(const char* path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

int FindMarkerOffset(const char* path, uint32_t* offset)
{
    HANDLE f = OpenForReading(path);
    if (f == INVALID_HANDLE_VALUE) return 0;
    char marker[kMarkerTextLength + 1];
    BuildMarkerText(marker);
    static uint8_t chunk[64 * 1024]; // whole pieces; only the last read is short
    uint32_t total = 0;
    int found = 0;
    DWORD got = 0;
    while (!found && ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        for (DWORD piece = 0; piece < got; piece += kMarkerBlockSize) {
            const DWORD len = got - piece < kMarkerBlockSize ? got - piece : DWORD{kMarkerBlockSize};
            if (IsMarkerPiece(chunk + piece, len, marker)) {
                found = 1;
                total += piece;
                break;
            }
        }
        if (!found) total += got;
    }
    CloseHandle(f);
    *offset = total;
    return found;
}

int ReadMarkerBlock()
{
    uint32_t marker = 0;
    if (!FindMarkerOffset(selfDecodingPath, &marker)) return 0;
    HANDLE f = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        if (attempt) Sleep(kOpenPauseMs);
        f = OpenForReading(selfDecodingPath);
        if (f != INVALID_HANDLE_VALUE) break;
    }
    if (f == INVALID_HANDLE_VALUE) return 0;
    uint8_t block[kMarkerBlockSize];
    DWORD got = 0;
    const int ok = SetFilePointer(f, static_cast<LONG>(marker), nullptr, FILE_BEGIN) == marker &&
                   ReadFile(f, block, sizeof block, &got, nullptr) && got == sizeof block;
    CloseHandle(f);
    if (!ok) return 0;
    MarkerSettings s;
    ReadMarkerSettings(block, &s);
    lstrcpynA(dialogCaption, s.dialogCaption, kPathSize);
    payloadOffset = marker + kMarkerBlockSize;
    CopyMemory(markerBlock, block, sizeof block);
    openAfterDecode = s.openAfterDecode;
    selfDeleteMode = s.selfDeleteMode;
    allowSavePassword = s.allowSavePassword;
    showEncoderInfo = s.showEncoderInfo;
    return 1;
}
