// The decoded record: one leading byte, a 304-byte header describing the
// encoded file, then its contents.
#ifndef LUMISAFE_CONTAINER_RECORD_H
#define LUMISAFE_CONTAINER_RECORD_H

#include <cstddef>
#include <cstdint>

enum : uint32_t {
    kRecordHeaderSize = 304,
    kRecordContentOffset = 305, // leading byte + header
    kRecordFileNameSize = 260,
    // Content check: a tag and a CRC-32 of the contents in the last eight
    // bytes of the fileName field, written when the name leaves room. Older
    // readers never look past the name's terminator.
    kContentCheckOffset = 252,  // within fileName
    kContentCheckMaxName = 251, // longest name (bytes) that leaves room
};

extern const uint8_t kContentCheckTag[4];

struct RecordHeader {
    uint32_t headerSize;
    uint32_t contentLength;
    uint32_t attributes;
    uint64_t creationTime; // FILETIME: 100 ns units since 1601-01-01 UTC
    uint64_t lastAccessTime;
    uint64_t lastWriteTime;
    char fileName[kRecordFileNameSize];
    uint32_t encoderSerial;
    int32_t createdAt; // time_t seconds
};

enum RecordStatus : int {
    kRecordOk = 1,
    kRecordWrong = 0,         // too short, bad header size or contents cut off
    kRecordCheckMismatch = -1 // content check present and not matching
};

// Copies the header out of a decoded record of `size` bytes. Returns
// kRecordWrong when the block cannot hold the header, the header size is not
// 304, or the block is shorter than 305 + contentLength; a wrong password
// ends up here. The file name is cut at its 260th byte when it has no
// terminator of its own.
int ReadRecordHeader(const uint8_t* record, uint32_t size, RecordHeader* header);

// Verifies the content check when the header carries one; kRecordOk when it
// matches or is absent.
int CheckRecordContent(const RecordHeader* header, const uint8_t* content);

// ReadRecordHeader followed by CheckRecordContent.
int ReadRecord(const uint8_t* record, uint32_t size, RecordHeader* header);

// Nonzero when the header carries a content check; *crc receives it.
int HasContentCheck(const RecordHeader* header, uint32_t* crc);

// CRC-32 (the zlib polynomial), continued from crc (0 to start).
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length);

// The last path component of a stored name (after the last '\', '/' or ':'),
// stepping over Shift-JIS double-byte characters so that a trail byte 0x5C is
// not taken for a separator when shiftJis is nonzero. Returns its offset in name.
size_t StoredNameLastComponent(const char* name, int shiftJis);

// Nonzero for a Shift-JIS (code page 932) lead byte.
int IsShiftJisLeadByte(uint8_t b);

// The attributes a decoded file is given: of the stored ones only read-only,
// hidden and archive, the bits a user's file sensibly carries (a crafted
// record must not make its output a system, temporary or device file);
// FILE_ATTRIBUTE_NORMAL (0x80) when none is left.
uint32_t OutputAttributes(uint32_t stored);

#endif
