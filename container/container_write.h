// Encoder side of a self-decoding file: the payload (compressed or stored,
// then enciphered) and the marker block that precedes it.
#ifndef LUMISAFE_CONTAINER_CONTAINER_WRITE_H
#define LUMISAFE_CONTAINER_CONTAINER_WRITE_H

#include <cstddef>
#include <cstdint>

#include "lzap_encode.h"

struct MarkerFields {
    const char* caption;       // ANSI code page bytes
    uint32_t captionLength;    // at most 206; longer captions are cut
    uint8_t openAfterDecode;   // 0 or 1
    uint8_t selfDeleteMode;    // 0 always, 1 checked, 2 unchecked
    uint8_t allowSavePassword; // 0 or 1
    uint8_t showEncoderInfo;   // 0 or 1
    uint8_t form;              // kFormClassic or kFormSealed (sealed.h)
    uint32_t payloadLength;    // the payload's exact length; 0 leaves it unstated (older files)
};

// Nonzero when a file can serve as a decoder stub: a whole number of 256-byte
// pieces, none of which is a marker block.
int IsUsableStub(const uint8_t* stub, size_t length);

// Room EncodePayload needs for a record of recordLength bytes.
size_t PayloadBound(uint32_t recordLength);

// Compresses the record (unless `store` is set or compression would not make
// it smaller, in which case the record is copied as it is) into out. Returns
// the length, or 0 when out is smaller than PayloadBound or the record is
// shorter than 2 bytes. The result is the plaintext of either payload form.
size_t PackRecord(LzapEncoder* encoder, const uint8_t* record, uint32_t recordLength, int store, uint8_t* out,
                  size_t outCapacity, LzapProgress progress, void* progressContext);

// Compresses the record (unless `store` is set or compression would not make
// it smaller, in which case the record is kept as it is) and enciphers the
// result under the key string. Writes into out and returns the payload
// length, or 0 when out is too small or the record is shorter than 2 bytes.
size_t EncodePayload(LzapEncoder* encoder, const uint8_t* record, uint32_t recordLength, int store,
                     const char* key, uint32_t keyLength, uint8_t* out, size_t outCapacity,
                     LzapProgress progress, void* progressContext);

// Fills a 256-byte marker block but for its integrity sum: the marker text,
// the four flags, the form byte, the payload's length and the caption; every
// other byte 0.
void FillMarkerBlock(uint8_t* block, const MarkerFields* fields);

// FillMarkerBlock, then the integrity sum of stub and payload.
void WriteMarkerBlock(uint8_t* block, const MarkerFields* fields, const uint8_t* stub,
                      size_t stubLength, const uint8_t* payload, size_t payloadLength);

#endif
