#include "decode_file.h"

#include <windows.h>

#include "bytes.h"
#include "cipher.h"
#include "lzap.h"
#include "sealed.h"
#include "sealed_crypto.h"
#include "stub_state.h"
#include "zstd_frame.h"

// The decompressors exist once per process; a record uses one of them.
static LzapDecoder decoder;
static ZstdExpander zstd;
static int zstdRecord; // the sealed header names zstd: the record is one zstd frame

// How far the current wait has come, in per cent, to the caller's display.
static void (*progress)(uint32_t percent);
static uint32_t progressFrom, progressSpan; // the part of 0..100 the current step covers

static void Report(uint64_t done, uint64_t total)
{
    if (progress && total) progress(progressFrom + static_cast<uint32_t>(done * progressSpan / total));
}

static void ReportUnsealed(size_t done, size_t total)
{
    Report(done, total);
}

// A compressed record is expanded a window at a time as it is written, so
// only the payload and this window are ever in memory; stored records are
// written from the payload itself.
enum : uint32_t { kWindowSize = 1u << 20, kReadPiece = 8u << 20 };
static uint8_t* window;        // the expanded record's current piece (null: stored)
static uint32_t windowFill;    // bytes of it in use
static uint64_t windowStart;   // record offset of window[0]

// Reads the payload into a new locked block of its own size, in pieces of
// 8 MiB with the progress reported between them: a large file takes seconds.
static int ReadPayload(MemBlock* block)
{
    HANDLE f = CreateFileA(selfDecodingPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return kDecodeNoFileSize;
    const DWORD fileSize = GetFileSize(f, nullptr);
    CloseHandle(f);
    // A file cut short since the launch stage checked it has no payload to read.
    if (fileSize == INVALID_FILE_SIZE || fileSize < payloadOffset + 2) return kDecodeCannotRead;
    // The payload ends where the marker block says (a signature may follow
    // it); an older file's runs to the end.
    const uint32_t stated = LoadLE32(markerBlock + kMarkerOffsetPayloadLength);
    DWORD size = fileSize - payloadOffset;
    if (stated && stated < size) size = stated;
    HGLOBAL memory = GlobalAlloc(0x1072, size); // movable, zeroed; one attempt
    if (!memory) return kDecodeNoMemory;
    uint8_t* address = static_cast<uint8_t*>(GlobalLock(memory));
    if (!address) {
        GlobalFree(memory);
        return kDecodeNoMemoryLock;
    }
    MemBlockAdopt(block, memory, address, size, size);
    f = CreateFileA(selfDecodingPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        MemBlockFree(block);
        return kDecodeCannotOpen;
    }
    BOOL ok = SetFilePointer(f, static_cast<LONG>(payloadOffset), nullptr, FILE_BEGIN) == payloadOffset;
    for (DWORD done = 0; ok && done < size;) {
        const DWORD want = size - done < kReadPiece ? size - done : DWORD{kReadPiece};
        DWORD got = 0;
        ok = ReadFile(f, address + done, want, &got, nullptr) && got == want;
        done += got;
        Report(done, size);
    }
    CloseHandle(f);
    if (!ok) {
        MemBlockFree(block);
        return kDecodeCannotRead;
    }
    return kDecodeOk;
}

int SealedFileId(uint8_t* id)
{
    if (MarkerForm(markerBlock) != kFormSealed) return kFileIdClassic;
    uint8_t head[kSealedHeaderSize];
    DWORD got = 0;
    const HANDLE f = CreateFileA(selfDecodingPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return kFileIdUnknown;
    const BOOL read = SetFilePointer(f, static_cast<LONG>(payloadOffset), nullptr, FILE_BEGIN) == payloadOffset &&
                      ReadFile(f, head, sizeof head, &got, nullptr) && got == sizeof head;
    CloseHandle(f);
    SealedHeader h;
    uint8_t digest[32];
    if (!read || ParseSealedHeader(head, sizeof head, &h) != kSealedOk ||
        SealedSha256(h.salt, kSealedSaltSize, digest) != kSealedOk)
        return kFileIdUnknown;
    CopyMemory(id, digest, kFileIdBytes);
    return kFileIdSealed;
}

// Classic form: the key string (the password and its length in digits),
// built in place in the password's buffer, then the seven decipher steps.
static int Decipher(char* password, uint32_t passwordLength, uint32_t capacity, MemBlock* block)
{
    const uint32_t keyLength =
        BuildKeyString(reinterpret_cast<const uint8_t*>(password), passwordLength, password, capacity);
    if (!keyLength) return kDecodeNoMemory;
    DecipherPayload(block->address, block->size, password, keyLength);
    return kDecodeOk;
}

// Sealed form: every check and every chunk's tag passes before the
// plaintext (left at the start of the block) is used at all.
static int Unseal(const char* password, uint32_t passwordLength, MemBlock* block)
{
    const uint32_t scratchSize = 1u << kSealedMaxChunkShift; // room for any chunk size
    uint8_t* scratch = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, scratchSize));
    if (!scratch) return kDecodeNoMemory;
    size_t plainLength = 0;
    SealedHeader h;
    if (ParseSealedHeader(block->address, block->size, &h) == kSealedOk) zstdRecord = h.codec == kSealedCodecZstd;
    const int rc = OpenSealedPayloadWatched(block->address, block->size, markerBlock,
                                            reinterpret_cast<const uint8_t*>(password), passwordLength, scratch,
                                            scratchSize, &plainLength, ReportUnsealed);
    HeapFree(GetProcessHeap(), 0, scratch);
    if (rc == kSealedOk) block->size = static_cast<uint32_t>(plainLength);
    return rc == kSealedFailed ? kDecodeNoMemory : rc;
}

// Where the expansion stands, in the LZAP decoder's terms for both codecs.
static int ExpandStatus()
{
    if (!zstdRecord) return decoder.status;
    return zstd.status == kZstdMore ? kLzapMore : zstd.status == kZstdDone ? kLzapDone : kLzapDamaged;
}

static uint32_t ExpandSome(uint8_t* out, uint32_t capacity)
{
    return zstdRecord ? ZstdExpandSome(&zstd, out, capacity) : LzapDecodeSome(&decoder, out, capacity);
}

// The record's length as its compressed form states it, and the bound its
// contents are first held against: a zstd frame states it exactly; an LZAP
// stream's last string may run up to 127 bytes past its declared size.
static uint64_t ExpandedBound()
{
    return zstdRecord ? zstd.contentSize : decoder.outputSize + uint64_t{kLzapMaxString - 1};
}

// Starts expanding a compressed record: the first window, which holds its
// header. The stream's magic passed, so a wrong password is behind us only
// for a sealed file; a classic one that breaks off here may be either.
static int ExpandHeader(MemBlock* block, RecordHeader* header, int sealed)
{
    const int broken = sealed ? kDecodeDamaged : kDecodeWrongPassword;
    if (zstdRecord) {
        // The tags proved the frame; only a window above the cap is told apart.
        const int rc = ZstdExpandBegin(&zstd, block->address, block->size, 0x7FFFFFFF);
        if (rc != kZstdMore) return rc == kZstdNewer ? kDecodeNewer : rc == kZstdNoMemory ? kDecodeNoMemory : broken;
    } else if (!LzapDecodeBegin(&decoder, block->address, block->size)) {
        return broken;
    }
    window = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, kWindowSize));
    if (!window) return kDecodeNoMemory;
    windowFill = 0;
    windowStart = 0;
    while (ExpandStatus() == kLzapMore && windowFill < kRecordContentOffset)
        windowFill += ExpandSome(window + windowFill, kWindowSize - windowFill);
    // contentLength is held against the stated bound now and against what
    // really comes out while writing.
    const uint64_t bound = ExpandedBound();
    if (ExpandStatus() == kLzapDamaged || windowFill < kRecordContentOffset ||
        ReadRecordHeader(window, static_cast<uint32_t>(bound), header) != kRecordOk ||
        (zstdRecord && kRecordContentOffset + uint64_t{header->contentLength} != bound))
        return broken;
    return kDecodeOk;
}

int DecodeRecord(char* password, uint32_t passwordLength, uint32_t capacity, MemBlock* block, RecordHeader* header,
                 void (*showProgress)(uint32_t percent))
{
    const uint32_t form = MarkerForm(markerBlock);
    if (form != kFormClassic && form != kFormSealed) return kDecodeNewer;
    DecodeRelease(block);
    progress = showProgress;
    const int sealed = form == kFormSealed;
    // Reading, then (sealed) checking every tag: about as long as each other.
    progressFrom = 0;
    progressSpan = sealed ? 50 : 100;
    int rc = ReadPayload(block);
    if (rc != kDecodeOk) return rc;
    progressFrom = 50;
    rc = sealed ? Unseal(password, passwordLength, block) : Decipher(password, passwordLength, capacity, block);
    if (rc == kDecodeOk) {
        if (zstdRecord || LzapHasHeader(block->address, block->size)) rc = ExpandHeader(block, header, sealed);
        else if (ReadRecord(block->address, block->size, header) != kRecordOk)
            rc = sealed ? kDecodeDamaged : kDecodeWrongPassword;
    }
    if (rc != kDecodeOk) DecodeRelease(block);
    return rc;
}

void DecodeRelease(MemBlock* block)
{
    if (window) HeapFree(GetProcessHeap(), 0, window);
    window = nullptr;
    if (zstd.context) ZstdExpandEnd(&zstd);
    zstdRecord = 0;
    MemBlockFree(block);
}

// What the file system says of the file at path; 0 when it cannot be opened.
static int FileInfo(const char* path, BY_HANDLE_FILE_INFORMATION* info)
{
    HANDLE f = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 0;
    const BOOL ok = GetFileInformationByHandle(f, info);
    CloseHandle(f);
    return ok != 0;
}

int DifferentFiles(const char* a, const char* b)
{
    BY_HANDLE_FILE_INFORMATION x, y;
    return FileInfo(a, &x) && FileInfo(b, &y) &&
           (x.dwVolumeSerialNumber != y.dwVolumeSerialNumber || x.nFileIndexHigh != y.nFileIndexHigh ||
            x.nFileIndexLow != y.nFileIndexLow);
}

static int WriteAll(HANDLE out, const uint8_t* data, uint32_t length)
{
    DWORD written = 0;
    return WriteFile(out, data, length, &written, nullptr) && written == length;
}

// Writes the contents: from the payload (stored), or window after window as
// the stream expands, checking the stream's end and the content check on the
// way, with the progress reported between windows. kDecodeOk,
// kDecodeCannotWrite, or kDecodeDamaged when the stream breaks off or the
// check fails.
static int WriteContents(HANDLE out, const RecordHeader* header, const MemBlock* block)
{
    if (!window) {
        // Stored: written from the payload in pieces, for the progress.
        const uint8_t* const content = block->address + kRecordContentOffset;
        for (uint32_t done = 0; done < header->contentLength;) {
            const uint32_t n = header->contentLength - done < kReadPiece ? header->contentLength - done : kReadPiece;
            if (!WriteAll(out, content + done, n)) return kDecodeCannotWrite;
            done += n;
            Report(done, header->contentLength);
        }
        return kDecodeOk;
    }
    const uint64_t contentEnd = kRecordContentOffset + static_cast<uint64_t>(header->contentLength);
    uint32_t crc = 0;
    for (;;) {
        // The part of this window that is contents.
        const uint64_t from = windowStart < uint64_t{kRecordContentOffset} ? uint64_t{kRecordContentOffset} : windowStart;
        const uint64_t to = windowStart + windowFill < contentEnd ? windowStart + windowFill : contentEnd;
        if (to > from) {
            const uint8_t* p = window + (from - windowStart);
            const uint32_t n = static_cast<uint32_t>(to - from);
            crc = Crc32(crc, p, n);
            if (!WriteAll(out, p, n)) return kDecodeCannotWrite;
        }
        if (ExpandStatus() != kLzapMore) break;
        Report(windowStart + windowFill, contentEnd);
        windowStart += windowFill;
        windowFill = ExpandSome(window, kWindowSize);
    }
    uint32_t expected;
    if (ExpandStatus() != kLzapDone || windowStart + windowFill < contentEnd ||
        (HasContentCheck(header, &expected) && expected != crc))
        return kDecodeDamaged;
    return kDecodeOk;
}

// Writes the contents to a new file beside path, flushed and with their
// times: a failure or a kill leaves the target as it was.
static int WriteBeside(const char* path, const RecordHeader* header, const MemBlock* block, char* temporary)
{
    char folder[MAX_PATH];
    lstrcpynA(folder, path, MAX_PATH);
    folder[StoredNameLastComponent(folder, GetACP() == 932)] = 0;
    if (!folder[0] || !GetTempFileNameA(folder, "lsf", 0, temporary)) return kDecodeCannotCreate;
    HANDLE out = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        DeleteFileA(temporary);
        return kDecodeCannotCreate;
    }
    FILETIME times[3];
    const uint64_t values[3] = {header->creationTime, header->lastAccessTime, header->lastWriteTime};
    for (int i = 0; i < 3; ++i) {
        times[i].dwLowDateTime = static_cast<DWORD>(values[i]);
        times[i].dwHighDateTime = static_cast<DWORD>(values[i] >> 32);
    }
    int rc = WriteContents(out, header, block);
    if (rc == kDecodeOk && !FlushFileBuffers(out)) rc = kDecodeCannotWrite;
    if (rc == kDecodeOk) SetFileTime(out, &times[0], &times[1], &times[2]);
    if (!CloseHandle(out) && rc == kDecodeOk) rc = kDecodeCannotWrite;
    if (rc != kDecodeOk) DeleteFileA(temporary);
    return rc;
}

// Puts the written file in the target's place in one step. A read-only
// target the user chose to replace loses that bit first (and gets it back if
// the replacement fails). Where MoveFileExA is missing (the Windows 95
// family) the file is copied over the target instead.
static int ReplaceTarget(const char* temporary, const char* path)
{
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExA(temporary, path, flags)) return 1;
    BY_HANDLE_FILE_INFORMATION info;
    if (FileInfo(path, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesA(path, info.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        if (MoveFileExA(temporary, path, flags)) return 1;
        SetFileAttributesA(path, info.dwFileAttributes);
        return 0;
    }
    if (!CopyFileA(temporary, path, FALSE)) return 0;
    DeleteFileA(temporary);
    return 1;
}

int WriteDecodedFile(const char* path, const RecordHeader* header, const MemBlock* block,
                     void (*showProgress)(uint32_t percent))
{
    char temporary[MAX_PATH];
    progress = showProgress;
    progressFrom = 0;
    progressSpan = 100;
    const int rc = WriteBeside(path, header, block, temporary);
    if (rc != kDecodeOk) return rc;
    if (!ReplaceTarget(temporary, path)) {
        DeleteFileA(temporary);
        return kDecodeCannotCreate;
    }
    SetFileAttributesA(path, OutputAttributes(header->attributes));
    return kDecodeOk;
}
