// Launch stage: copy the stub, check the integrity sum, start the copy.
#include <windows.h>

#include "bytes.h"
#include "integrity.h"
#include "layout.h"
#include "marker.h"
#include "pe.h"
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

// The payload's bytes up to its stated length (all of them in an older
// file) go into the sum; after them come at most a signature's padding,
// whose first bytes are kept to be checked, and its table.
static uint32_t payloadTaken, trailerLength;
static uint8_t trailerHead[kMaxSignaturePadding + 1];

static void TakePayload(uint8_t* lanes, const uint8_t* block, const uint8_t* data, DWORD n)
{
    const uint32_t stated = LoadLE32(block + kMarkerOffsetPayloadLength);
    const uint32_t room = stated ? stated - payloadTaken : 0xFFFFFFFFu;
    const DWORD take = n < room ? n : room;
    AddIntegrityLanes(lanes, data, take);
    payloadTaken += take;
    for (DWORD i = take; i < n; ++i, ++trailerLength)
        if (trailerLength < sizeof trailerHead) trailerHead[trailerLength] = data[i];
}

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
    uint8_t block[kMarkerBlockSize];
    int found = 0;
    DWORD got = 0;
    uint32_t markerOffset = 0;
    // The header fields that signing rewrites, as the file has them; the
    // decode copy gets them as zeros, so that it names no certificate table
    // past its own end.
    PeFields pe;
    int havePe = 0;
    uint8_t peBytes[kPeCheckSumSize + kPeCertEntrySize];
    uint32_t certOffset = 0, certSize = 0;

    // Copy loop: everything before the marker block goes to the decode copy.
    while (!found && ReadFile(own, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        if (markerOffset == 0 && FindPeFields(chunk, got, &pe)) {
            havePe = 1;
            CopyMemory(peBytes, chunk + pe.checkSumOffset, kPeCheckSumSize);
            CopyMemory(peBytes + kPeCheckSumSize, chunk + pe.certEntryOffset, kPeCertEntrySize);
            ReadCertEntry(chunk, got, &certOffset, &certSize);
        }
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
        if (markerOffset == 0) (void)ClearPeFields(chunk, piece);
        if (!WriteAll(copy, chunk, piece)) {
            // A partial copy is of no use to anyone: remove it.
            CloseHandle(copy);
            CloseHandle(own);
            DeleteFileA(decodeCopy);
            return 0;
        }
        markerOffset += piece;
        if (found) {
            CopyMemory(block, chunk + piece, kMarkerBlockSize);
            // The rest of this chunk is the payload's first part.
            TakePayload(lanes, block, chunk + piece + kMarkerBlockSize, got - piece - kMarkerBlockSize);
        }
    }
    CloseHandle(copy);

    // Sum loop: the rest of the payload, and what may follow it.
    while (found && ReadFile(own, chunk, sizeof chunk, &got, nullptr) && got > 0) TakePayload(lanes, block, chunk, got);
    CloseHandle(own);

    if (!found) {
        DeleteFileA(decodeCopy);
        return 0;
    }
    // Only what packing or signing leaves may follow the payload; a signed
    // file was summed with the header fields as zeros.
    PayloadExtent extent;
    const int layoutOk = ResolvePayloadExtent(markerOffset + kMarkerBlockSize + payloadTaken + trailerLength,
                                              markerOffset, block, certOffset, certSize, &extent) &&
                         extent.payloadLength == payloadTaken &&
                         IsZeroPadding(trailerHead, extent.paddingLength < sizeof trailerHead ? extent.paddingLength
                                                                                                : sizeof trailerHead);
    if (layoutOk && extent.stated && havePe) {
        SubtractIntegrityBytes(lanes, pe.checkSumOffset, peBytes, kPeCheckSumSize);
        SubtractIntegrityBytes(lanes, pe.certEntryOffset, peBytes + kPeCheckSumSize, kPeCertEntrySize);
    }
    if (!layoutOk || !IntegritySumsEqual(lanes, block + kMarkerOffsetIntegritySum)) {
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
