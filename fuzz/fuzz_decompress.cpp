// Raw decompression of arbitrary blocks, through both the whole-block path
// the decoder stub uses and the chunked path of the tool, and through the
// stub's compact build of the decoder: all must agree, stay inside their
// buffers and end.
#include <cstring>
#include <vector>

#include "bytes.h"
#include "fuzz_common.h"
#include "lzap.h"
#include "lzap_compact.h"

static LzapDecoder whole, chunked, small;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    // A stream may rightly expand 512 times; keep the runs within the
    // fuzzer's memory limit.
    if (size >= 8 && LoadLE32(data + 4) > (256u << 10)) return 0;
    MemBlock block;
    if (!MemBlockAlloc(&block, static_cast<uint32_t>(size))) return 0;
    if (size) std::memcpy(block.address, data, size);
    block.size = static_cast<uint32_t>(size);
    const int ok = Decompress(&whole, &block);
    std::vector<uint8_t> first(block.address, block.address + block.size);
    MemBlockFree(&block);

    if (!LzapHasHeader(data, static_cast<uint32_t>(size))) {
        FUZZ_CHECK(ok == 1 && first.size() == size);
        return 0;
    }
    std::vector<uint8_t> input(data, data + size); // exact size: reads past it are caught
    std::vector<uint8_t> out, chunk(300);
    if (LzapDecodeBegin(&chunked, input.data(), static_cast<uint32_t>(input.size()))) {
        while (chunked.status == kLzapMore) {
            const uint32_t n = LzapDecodeSome(&chunked, chunk.data(), static_cast<uint32_t>(chunk.size()));
            FUZZ_CHECK(n <= chunk.size());
            out.insert(out.end(), chunk.begin(), chunk.begin() + n);
        }
    }
    // The compact build must make the same dictionary and output.
    std::vector<uint8_t> compactOut;
    if (CompactLzapDecodeBegin(&small, input.data(), static_cast<uint32_t>(input.size()))) {
        while (small.status == kLzapMore) {
            const uint32_t n = CompactLzapDecodeSome(&small, chunk.data(), static_cast<uint32_t>(chunk.size()));
            compactOut.insert(compactOut.end(), chunk.begin(), chunk.begin() + n);
        }
    }
    FUZZ_CHECK(small.status == chunked.status);
    FUZZ_CHECK(compactOut == out);
    FUZZ_CHECK((chunked.status == kLzapDone) == (ok == 1));
    if (ok) {
        FUZZ_CHECK(out == first);
        FUZZ_CHECK(out.size() >= chunked.outputSize && out.size() < chunked.outputSize + 128u);
    }
    return 0;
}
