// The integrity sum: sixteen byte lanes summed modulo 256 over the stub and
// the payload. The lane of a byte is its offset modulo 16; because the stub
// length and the payload offset are multiples of 256, that is also its file
// offset modulo 16.
#ifndef LUMISAFE_CONTAINER_INTEGRITY_H
#define LUMISAFE_CONTAINER_INTEGRITY_H

#include <cstddef>
#include <cstdint>

#include "marker.h"

// Adds the whole 16-byte groups of a piece into the lanes; the last
// length mod 16 bytes are left out. A file read in 256-byte pieces (or in any
// larger chunks whose lengths are multiples of 16 but for the last) therefore
// sums every stub byte and the payload but its last P mod 16 bytes.
void AddIntegrityLanes(uint8_t* lanes, const uint8_t* piece, size_t length);

// Takes n bytes that lie at file offset `offset` back out of the lanes: a
// signed file's sum counts its PE header's CheckSum and certificate entry
// as the packer wrote them (zeros), not as the signing tool left them.
void SubtractIntegrityBytes(uint8_t* lanes, size_t offset, const uint8_t* bytes, size_t n);

// Integrity sum of a stub and a payload held in memory.
void ComputeIntegritySum(const uint8_t* stub, size_t stubLength, const uint8_t* payload,
                         size_t payloadLength, uint8_t* lanes);

// Nonzero when the two 16-byte sums agree.
int IntegritySumsEqual(const uint8_t* a, const uint8_t* b);

#endif
