// Marker block, PE header and record parsing on arbitrary bytes: the
// search, the settings, the signature layout and the record header must
// stay inside the input.
#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "layout.h"
#include "marker.h"
#include "pe.h"
#include "record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const size_t marker = FindMarkerInBuffer(data, size);
    FUZZ_CHECK(marker == size || (marker % 256 == 0 && marker + 256 <= size));
    if (size >= 256) {
        // An exact-size copy, so any read past the block is caught.
        std::vector<uint8_t> block(data, data + 256);
        MarkerSettings s;
        ReadMarkerSettings(block.data(), &s);
        FUZZ_CHECK(std::strlen(s.dialogCaption) <= 207);
    }
    // The input as a file: its head a stub's PE header, the marker where the
    // search found it; whatever extent is accepted lies inside the file and
    // ends where any signature begins.
    std::vector<uint8_t> file(data, data + size);
    PeFields pe;
    if (FindPeFields(file.data(), file.size(), &pe)) {
        FUZZ_CHECK(pe.checkSumOffset + kPeCheckSumSize <= size && pe.certEntryOffset + kPeCertEntrySize <= size);
    }
    uint32_t certOffset, certSize;
    ReadCertEntry(file.data(), file.size(), &certOffset, &certSize);
    PayloadExtent e;
    if (marker < size && size < 0x80000000u &&
        ResolvePayloadExtent(static_cast<uint32_t>(size), static_cast<uint32_t>(marker), file.data() + marker,
                             certOffset, certSize, &e)) {
        const uint64_t payloadEnd = uint64_t{marker} + 256 + e.payloadLength;
        FUZZ_CHECK(payloadEnd <= size);
        FUZZ_CHECK(e.paddingLength <= kMaxSignaturePadding || !e.stated);
        if (e.certSize) FUZZ_CHECK(e.certOffset >= payloadEnd && uint64_t{e.certOffset} + e.certSize == size);
    }
    std::vector<uint8_t> record(data, data + size);
    RecordHeader h;
    const int status = ReadRecord(record.data(), static_cast<uint32_t>(record.size()), &h);
    if (status == kRecordOk) {
        FUZZ_CHECK(h.headerSize == 304);
        FUZZ_CHECK(305u + h.contentLength <= size);
        FUZZ_CHECK(std::memchr(h.fileName, 0, sizeof h.fileName) != nullptr);
    }
    return 0;
}
