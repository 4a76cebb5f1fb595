// The whole decode of a self-decoding file. The input is taken as the
// payload's plaintext; the harness enciphers it under a fixed password and
// fixes the integrity sum, so mutations reach the decompressor and the
// record instead of dying at the sum check. Both the stub's path (whole
// block) and the tool's path (chunked, streamed) run.
#include <cstring>
#include <vector>

#include "container_write.h"
#include "bytes.h"
#include "fuzz_common.h"
#include "integrity.h"
#include "lzap.h"
#include "marker.h"
#include "record.h"
#include "sfx.h"

static LzapDecoder decoder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > (1u << 20)) return 0;
    // A stream may rightly expand 512 times; keep the runs within the
    // fuzzer's memory limit.
    if (size >= 8 && LoadLE32(data + 4) > (256u << 10)) return 0;
    static const std::string key = FuzzKey("fuzz password");
    std::vector<uint8_t> payload(data, data + size);
    EncipherPayload(payload.data(), static_cast<uint32_t>(payload.size()), key.c_str(),
                    static_cast<uint32_t>(key.size()));

    std::vector<uint8_t> file(512, 0x90);
    uint8_t block[256];
    const MarkerFields fields = {"caption", 7, 0, 2, 0, 0};
    WriteMarkerBlock(block, &fields, file.data(), file.size(), payload.data(), payload.size());
    file.insert(file.end(), block, block + 256);
    file.insert(file.end(), payload.begin(), payload.end());

    // What the stub does.
    const size_t marker = FindMarkerInBuffer(file.data(), file.size());
    FUZZ_CHECK(marker == 512);
    MarkerSettings s;
    ReadMarkerSettings(file.data() + marker, &s);
    uint8_t lanes[16];
    ComputeIntegritySum(file.data(), marker, file.data() + marker + 256, file.size() - marker - 256, lanes);
    FUZZ_CHECK(IntegritySumsEqual(lanes, s.integritySum));
    MemBlock mb;
    if (!MemBlockAlloc(&mb, static_cast<uint32_t>(payload.size()))) return 0;
    std::memcpy(mb.address, payload.data(), payload.size());
    DecipherPayload(mb.address, mb.size, key.c_str(), static_cast<uint32_t>(key.size()));
    FUZZ_CHECK(std::memcmp(mb.address, data, size) == 0);
    RecordHeader stubHeader;
    const int stubOk = Decompress(&decoder, &mb) && ReadRecord(mb.address, mb.size, &stubHeader) == kRecordOk;
    std::vector<uint8_t> stubContent;
    if (stubOk) stubContent.assign(mb.address + 305, mb.address + 305 + stubHeader.contentLength);
    MemBlockFree(&mb);

    // What the tool does, streaming the contents to a sink.
    std::vector<uint8_t> toolContent;
    RecordSink sink;
    sink.begin = [](const RecordHeader&) { return true; };
    sink.write = [&](const uint8_t* p, size_t n) {
        toolContent.insert(toolContent.end(), p, p + n);
        return true;
    };
    RecordHeader toolHeader;
    static Secret keySecret(key.size());
    if (keySecret.length == 0) (void)SecretAppend(&keySecret, key.data(), key.size());
    const int toolResult = DecodePayload(&payload, keySecret, &sink, &toolHeader);
    FUZZ_CHECK((toolResult == kDecodeOk) == (stubOk != 0));
    if (stubOk) {
        FUZZ_CHECK(toolContent == stubContent);
        FUZZ_CHECK(toolHeader.contentLength == stubHeader.contentLength);
    }
    return 0;
}
