// The two fields of a Windows program's PE header that change when the
// program is signed or re-checksummed without changing the program: the
// header's CheckSum and the certificate-table entry of its data directory.
#ifndef LUMISAFE_CONTAINER_PE_H
#define LUMISAFE_CONTAINER_PE_H

#include <cstddef>
#include <cstdint>

enum : uint32_t {
    kPeCheckSumSize = 4,
    kPeCertEntrySize = 8, // file offset and size of the certificate table
};

struct PeFields {
    size_t checkSumOffset;  // file offsets of the fields
    size_t certEntryOffset;
};

// Finds the fields in the first length bytes of a PE image (PE32 or PE32+),
// every offset checked against length. Nonzero when found.
int FindPeFields(const uint8_t* image, size_t length, PeFields* fields);

// Zeroes both fields in place, when image is a PE image: what is left is the
// program as its builder made it, whatever checksum or signature entry was
// written into it later. Nonzero when the fields were found.
int ClearPeFields(uint8_t* image, size_t length);

#endif
