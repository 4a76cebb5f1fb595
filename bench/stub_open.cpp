// The decoder stub's own decode work, timed under Windows (or Wine): the
// same libraries and flags as the stub, the same calls the password dialog
// makes, without the dialog. For each run: read the marker block, read and
// open the payload (the sealed form's checks, or the classic decipher)
// with the record's header, then expand and write the contents beside
// OUTPUT window by window. Prints the best run.
//
//   stub_open FILE PASSWORD OUTPUT [RUNS]
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "decode_file.h"
#include "stub_state.h"

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: stub_open FILE PASSWORD OUTPUT [RUNS]\n");
        return 1;
    }
    lstrcpynA(selfDecodingPath, argv[1], kPathSize);
    if (!ReadMarkerBlock()) {
        std::fprintf(stderr, "%s: no self-decoding file\n", argv[1]);
        return 1;
    }
    const int runs = argc > 4 ? std::atoi(argv[4]) : 3;
    double bestOpen = 1e9, bestWrite = 1e9;
    uint32_t contents = 0;
    for (int run = 0; run < runs; ++run) {
        char password[256];
        lstrcpynA(password, argv[2], 200);
        const uint32_t length = static_cast<uint32_t>(std::strlen(password));
        MemBlock block = {0, 0, nullptr, nullptr};
        RecordHeader header;
        LARGE_INTEGER t0, t1, t2;
        QueryPerformanceCounter(&t0);
        int rc = DecodeRecord(password, length, sizeof password, &block, &header, nullptr);
        QueryPerformanceCounter(&t1);
        if (rc == kDecodeOk) rc = WriteDecodedFile(argv[3], &header, &block, nullptr);
        QueryPerformanceCounter(&t2);
        DecodeRelease(&block);
        if (rc != kDecodeOk) {
            std::fprintf(stderr, "%s: decode status %d\n", argv[1], rc);
            return 2;
        }
        contents = header.contentLength;
        if (Seconds(t0, t1) < bestOpen) bestOpen = Seconds(t0, t1);
        if (Seconds(t1, t2) < bestWrite) bestWrite = Seconds(t1, t2);
    }
    // Opening includes the key derivation; the caller packs with few rounds.
    std::printf("%s: %u bytes; open %.3f s, expand and write %.3f s; %.1f MB/s end to end\n", argv[1], contents,
                bestOpen, bestWrite, contents / 1048576.0 / (bestOpen + bestWrite));
    return 0;
}
