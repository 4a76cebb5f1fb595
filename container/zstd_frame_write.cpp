#include "zstd_frame_write.h"

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "zstd_frame.h"

int ZstdWriterSetup(void* context, int level, int longWindow, uint64_t contentSize)
{
    ZSTD_CCtx* c = static_cast<ZSTD_CCtx*>(context);
    if (level < 1 || level > static_cast<int>(kZstdMaxLevel)) return 0;
    ZSTD_CCtx_reset(c, ZSTD_reset_session_and_parameters);
    // The level's own window, but never above what readers allow: the
    // highest levels would otherwise ask for up to 128 MiB.
    const ZSTD_compressionParameters p = ZSTD_getCParams(level, contentSize, 0);
    const unsigned windowLog = longWindow || p.windowLog > kZstdMaxWindowLog ? kZstdMaxWindowLog : p.windowLog;
    const size_t results[] = {
        ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, level),
        ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, static_cast<int>(windowLog)),
        ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, longWindow ? 1 : 0),
        ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 0), // every chunk's tag proves the bytes
        ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 1),
        ZSTD_CCtx_setPledgedSrcSize(c, contentSize),
    };
    for (const size_t r : results)
        if (ZSTD_isError(r)) return 0;
    return 1;
}

size_t ZstdFrameBound(size_t n)
{
    return ZSTD_compressBound(n);
}

size_t ZstdCompressFrame(const uint8_t* in, size_t n, int level, int longWindow, uint8_t* out, size_t capacity)
{
    ZSTD_CCtx* c = ZSTD_createCCtx();
    if (!c) return 0;
    size_t length = 0;
    if (ZstdWriterSetup(c, level, longWindow, n)) {
        const size_t r = ZSTD_compress2(c, out, capacity, in, n);
        if (!ZSTD_isError(r)) length = r;
    }
    ZSTD_freeCCtx(c);
    return length;
}
