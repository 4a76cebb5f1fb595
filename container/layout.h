// Where a self-decoding file's payload ends, and what may follow it. A file
// of this version states its payload's length in the marker block, so that
// an Authenticode signature can follow the payload: a signing tool pads the
// file with zero bytes to a multiple of 8, appends its certificate table and
// names the table in the stub's PE header (CheckSum rewritten too). Nothing
// else may follow the payload, and an older file (no stated length) runs to
// the end of the file, as it always did.
#ifndef LUMISAFE_CONTAINER_LAYOUT_H
#define LUMISAFE_CONTAINER_LAYOUT_H

#include <cstddef>
#include <cstdint>

#include "pe.h"

enum : uint32_t {
    kMaxSignaturePadding = 7,
    kMinCertificateTable = 8, // one WIN_CERTIFICATE header
};

struct PayloadExtent {
    uint32_t payloadLength;
    uint32_t paddingOffset, paddingLength; // zero bytes after the payload (a signature's, or one removed)
    uint32_t certOffset, certSize;         // the certificate table; 0, 0 when there is none
    int stated;                            // the marker block states the length: the sum leaves the PE fields out
};

// The certificate-table entry of a stub's PE header (the first headLength
// bytes of the file); 0, 0 when the stub is no PE image or has none.
void ReadCertEntry(const uint8_t* head, size_t headLength, uint32_t* certOffset, uint32_t* certSize);

// Decides the payload's extent from the file's length, the marker block and
// the stub's certificate entry. 1 with *extent filled (an unsigned file cut
// short keeps what is left as its payload, for the sum and the form's checks
// to find damaged); 0 when the layout is none that packing or signing makes
// (a table inside the stub, the marker or the payload, past the end or not at
// the end, more than padding after an unsigned payload, a stated length in a
// signed file that disagrees with it): a changed file. The padding's bytes are the
// caller's to check with IsZeroPadding.
int ResolvePayloadExtent(uint32_t fileLength, uint32_t markerOffset, const uint8_t* marker, uint32_t certOffset,
                         uint32_t certSize, PayloadExtent* extent);

// Nonzero when every one of the n bytes is zero.
int IsZeroPadding(const uint8_t* bytes, size_t n);

#endif
