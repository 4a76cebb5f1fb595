#include "record_write.h"

#include <cstring>

#include "bytes.h"

void WriteRecordHeader(uint8_t* record, const RecordHeader* header, const uint8_t* content)
{
    WriteRecordHeaderWithCheck(record, header, Crc32(0, content, header->contentLength));
}

void WriteRecordHeaderWithCheck(uint8_t* record, const RecordHeader* header, uint32_t contentCrc)
{
    record[0] = 0; // leading byte, never read
    uint8_t* h = record + 1;
    StoreLE32(h + 0, kRecordHeaderSize);
    StoreLE32(h + 4, header->contentLength);
    StoreLE32(h + 8, header->attributes);
    StoreLE64(h + 12, header->creationTime);
    StoreLE64(h + 20, header->lastAccessTime);
    StoreLE64(h + 28, header->lastWriteTime);
    uint8_t* name = h + 36;
    std::memset(name, 0, kRecordFileNameSize);
    size_t nameLength = strnlen(header->fileName, kRecordFileNameSize - 1);
    std::memcpy(name, header->fileName, nameLength);
    if (nameLength <= kContentCheckMaxName) {
        std::memcpy(name + kContentCheckOffset, kContentCheckTag, 4);
        StoreLE32(name + kContentCheckOffset + 4, contentCrc);
    }
    StoreLE32(h + 296, header->encoderSerial);
    StoreLE32(h + 300, static_cast<uint32_t>(header->createdAt));
}
