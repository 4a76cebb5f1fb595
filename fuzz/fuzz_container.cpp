// Marker block and record parsing on arbitrary bytes: the search, the
// settings and the record header must stay inside the input.
#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "marker.h"
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
