#include "layout.h"

#include "bytes.h"
#include "marker.h"

void ReadCertEntry(const uint8_t* head, size_t headLength, uint32_t* certOffset, uint32_t* certSize)
{
    PeFields f;
    *certOffset = *certSize = 0;
    if (!FindPeFields(head, headLength, &f)) return;
    *certOffset = LoadLE32(head + f.certEntryOffset);
    *certSize = LoadLE32(head + f.certEntryOffset + 4);
}

int ResolvePayloadExtent(uint32_t fileLength, uint32_t markerOffset, const uint8_t* marker, uint32_t certOffset,
                         uint32_t certSize, PayloadExtent* extent)
{
    *extent = PayloadExtent();
    if (markerOffset > fileLength || fileLength - markerOffset < kMarkerBlockSize) return 0;
    const uint32_t payloadOffset = markerOffset + kMarkerBlockSize;
    const uint32_t stated = LoadLE32(marker + kMarkerOffsetPayloadLength);
    const int signedFile = certOffset != 0 || certSize != 0;
    if (stated == 0) {
        // An older file: the payload runs to the end, and it carries no
        // signature, since nothing would tell where its payload ends.
        if (signedFile) return 0;
        extent->payloadLength = fileLength - payloadOffset;
        return 1;
    }
    if (stated > fileLength - payloadOffset) {
        // Cut short: the payload is what is left, and the sum or the
        // sealed form's checks tell the damage, as for any cut file.
        if (signedFile) return 0;
        extent->payloadLength = fileLength - payloadOffset;
        extent->stated = 1;
        extent->paddingOffset = fileLength;
        return 1;
    }
    const uint32_t payloadEnd = payloadOffset + stated;
    extent->payloadLength = stated;
    extent->stated = 1;
    extent->paddingOffset = payloadEnd;
    if (!signedFile) {
        // Unsigned, or signed once and the signature removed: at most the
        // padding that signing added may remain.
        extent->paddingLength = fileLength - payloadEnd;
        return extent->paddingLength <= kMaxSignaturePadding;
    }
    // The table after the payload and its padding, 8-aligned, running exactly
    // to the end of the file.
    if (certOffset < payloadEnd || certOffset - payloadEnd > kMaxSignaturePadding || certOffset % 8 != 0) return 0;
    if (certSize < kMinCertificateTable || certSize > fileLength - certOffset || fileLength - certOffset != certSize)
        return 0;
    extent->paddingLength = certOffset - payloadEnd;
    extent->certOffset = certOffset;
    extent->certSize = certSize;
    return 1;
}

int IsZeroPadding(const uint8_t* bytes, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (bytes[i] != 0) return 0;
    return 1;
}
