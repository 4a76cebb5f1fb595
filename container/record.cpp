#include "record.h"

#include <cstring>

#include "bytes.h"

const uint8_t kContentCheckTag[4] = {'L', 'S', 'c', '1'};

int ReadRecordHeader(const uint8_t* record, uint32_t size, RecordHeader* header)
{
    if (size < kRecordContentOffset) return kRecordWrong;
    const uint8_t* h = record + 1;
    header->headerSize = LoadLE32(h + 0);
    header->contentLength = LoadLE32(h + 4);
    header->attributes = LoadLE32(h + 8);
    header->creationTime = LoadLE64(h + 12);
    header->lastAccessTime = LoadLE64(h + 20);
    header->lastWriteTime = LoadLE64(h + 28);
    std::memcpy(header->fileName, h + 36, kRecordFileNameSize);
    header->encoderSerial = LoadLE32(h + 296);
    header->createdAt = static_cast<int32_t>(LoadLE32(h + 300));
    if (header->headerSize != kRecordHeaderSize) return kRecordWrong;
    if (header->contentLength > size - kRecordContentOffset) return kRecordWrong;
    return kRecordOk;
}

int HasContentCheck(const RecordHeader* header, uint32_t* crc)
{
    const char* name = header->fileName;
    const void* end = std::memchr(name, 0, kRecordFileNameSize);
    if (!end || static_cast<const char*>(end) - name > static_cast<ptrdiff_t>(kContentCheckMaxName))
        return 0;
    const uint8_t* check = reinterpret_cast<const uint8_t*>(name) + kContentCheckOffset;
    if (std::memcmp(check, kContentCheckTag, 4) != 0) return 0;
    *crc = LoadLE32(check + 4);
    return 1;
}

int CheckRecordContent(const RecordHeader* header, const uint8_t* content)
{
    uint32_t expected;
    if (!HasContentCheck(header, &expected)) return kRecordOk;
    return Crc32(0, content, header->contentLength) == expected ? kRecordOk : kRecordCheckMismatch;
}

int ReadRecord(const uint8_t* record, uint32_t size, RecordHeader* header)
{
    const int status = ReadRecordHeader(record, size, header);
    if (status != kRecordOk) return status;
    const int check = CheckRecordContent(header, record + kRecordContentOffset);
    // A name without terminator is cut; only now, since the content check
    // may occupy the field's last byte.
    header->fileName[kRecordFileNameSize - 1] = 0;
    return check;
}

#ifdef LUMISAFE_COMPACT
// The decoder stub's build: one table, a byte a step. The check runs once per
// decode, beside a decompressor that is many times slower.
static uint32_t crcTable[256];

uint32_t Crc32(uint32_t crc, const uint8_t* p, size_t length)
{
    if (crcTable[1] == 0) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            crcTable[i] = c;
        }
    }
    crc = ~crc;
    while (length--) crc = crcTable[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
#else
// Slicing-by-8 tables, made on first use: the decoder stub carries no 8 KiB
// of constants, and the check runs at memory speed rather than a byte a step.
static uint32_t crcTable[8][256];
static int crcTableReady;

static void MakeCrcTable()
{
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crcTable[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (int t = 1; t < 8; ++t)
            crcTable[t][i] = (crcTable[t - 1][i] >> 8) ^ crcTable[0][crcTable[t - 1][i] & 0xFF];
    crcTableReady = 1;
}

uint32_t Crc32(uint32_t crc, const uint8_t* p, size_t length)
{
    if (!crcTableReady) MakeCrcTable();
    crc = ~crc;
    while (length >= 8) {
        const uint32_t a = LoadLE32(p) ^ crc, b = LoadLE32(p + 4);
        crc = crcTable[7][a & 0xFF] ^ crcTable[6][(a >> 8) & 0xFF] ^ crcTable[5][(a >> 16) & 0xFF] ^
              crcTable[4][a >> 24] ^ crcTable[3][b & 0xFF] ^ crcTable[2][(b >> 8) & 0xFF] ^
              crcTable[1][(b >> 16) & 0xFF] ^ crcTable[0][b >> 24];
        p += 8;
        length -= 8;
    }
    while (length--) crc = crcTable[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
#endif

int IsShiftJisLeadByte(uint8_t b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

size_t StoredNameLastComponent(const char* name, int shiftJis)
{
    size_t start = 0;
    for (size_t i = 0; name[i] != 0; ++i) {
        const uint8_t b = static_cast<uint8_t>(name[i]);
        if (shiftJis && IsShiftJisLeadByte(b) && name[i + 1] != 0) {
            ++i; // the trail byte may be 0x5C; it is part of the character
            continue;
        }
        if (b == '\\' || b == '/' || b == ':') start = i + 1;
    }
    return start;
}

uint32_t OutputAttributes(uint32_t stored)
{
    const uint32_t kept = stored & (0x01u | 0x02u | 0x20u); // read-only, hidden, archive
    return kept ? kept : 0x80u;
}
