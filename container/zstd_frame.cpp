#include "zstd_frame.h"

#define ZSTD_STATIC_LINKING_ONLY // ZSTD_getFrameHeader, ZSTD_d_windowLogMax
#include <zstd.h>

#include "bytes.h"

// Nonzero when input starts like a zstd frame (its magic number).
static int ZstdHasMagic(const uint8_t* input, size_t length)
{
    return length >= 4 && LoadLE32(input) == ZSTD_MAGICNUMBER;
}

// What the frame header allows before any block is expanded: a frame that
// states its size, within the bound, with no dictionary, a window this
// reader is willing to hold.
static int CheckFrameHeader(const uint8_t* input, size_t length, uint64_t maxContent, uint64_t* contentSize)
{
    ZSTD_frameHeader h;
    if (!ZstdHasMagic(input, length) || ZSTD_getFrameHeader(&h, input, length) != 0) return kZstdDamaged;
    if (h.frameType != ZSTD_frame || h.dictID != 0 || h.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN ||
        h.frameContentSize > maxContent)
        return kZstdDamaged;
    if (h.windowSize > (uint64_t{1} << kZstdMaxWindowLog)) return kZstdNewer;
    *contentSize = h.frameContentSize;
    return kZstdMore;
}

int ZstdExpandBegin(ZstdExpander* e, const uint8_t* input, size_t length, uint64_t maxContent)
{
    e->context = nullptr;
    e->input = input;
    e->inputLength = length;
    e->inputPos = 0;
    e->produced = 0;
    e->status = CheckFrameHeader(input, length, maxContent, &e->contentSize);
    if (e->status != kZstdMore) return e->status;
    ZSTD_DStream* d = ZSTD_createDStream();
    // The window cap holds for every frame, whatever its header claimed. A
    // frame's own checksum, which writers leave out, is ignored: every
    // chunk's tag already proves the bytes (and the stub carries no code
    // for it).
    if (!d || ZSTD_isError(ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, kZstdMaxWindowLog)) ||
        ZSTD_isError(ZSTD_DCtx_setParameter(d, ZSTD_d_forceIgnoreChecksum, ZSTD_d_ignoreChecksum))) {
        ZSTD_freeDStream(d);
        return e->status = kZstdNoMemory;
    }
    e->context = d;
    return e->status;
}

uint32_t ZstdExpandSome(ZstdExpander* e, uint8_t* out, uint32_t capacity)
{
    if (e->status != kZstdMore || capacity == 0) return 0;
    // A frame may not produce more than it stated: the output is cut there,
    // so a longer frame fails below instead of overrunning the caller.
    const uint64_t left = e->contentSize - e->produced;
    ZSTD_outBuffer o = {out, capacity < left ? capacity : static_cast<size_t>(left), 0};
    ZSTD_inBuffer in = {e->input, e->inputLength, e->inputPos};
    size_t rc = 1; // not ended
    while (o.pos < o.size) {
        const size_t before = o.pos, from = in.pos;
        rc = ZSTD_decompressStream(static_cast<ZSTD_DStream*>(e->context), &o, &in);
        if (ZSTD_isError(rc) || rc == 0) break;
        // Input used up with the frame unfinished: cut short.
        if (o.pos == before && in.pos == from) {
            rc = 1;
            break;
        }
    }
    e->produced += o.pos;
    int tooLong = 0;
    if (!ZSTD_isError(rc) && rc != 0 && e->produced == e->contentSize) {
        // Every stated byte is out: the frame must end here, with no more
        // output. One more call with no room tells.
        ZSTD_outBuffer none = {nullptr, 0, 0};
        rc = ZSTD_decompressStream(static_cast<ZSTD_DStream*>(e->context), &none, &in);
        tooLong = rc != 0; // it wants to go on past what it stated
    }
    e->inputPos = in.pos;
    if (rc == 0) {
        // The frame ended: with the size it stated, and at the payload's end.
        e->status = e->produced == e->contentSize && in.pos == in.size ? kZstdDone : kZstdDamaged;
    } else if (tooLong || ZSTD_isError(rc) || o.pos < o.size) {
        e->status = kZstdDamaged; // malformed, or the input ran out inside the frame
    }
    return static_cast<uint32_t>(o.pos);
}

void ZstdExpandEnd(ZstdExpander* e)
{
    ZSTD_freeDStream(static_cast<ZSTD_DStream*>(e->context));
    e->context = nullptr;
}
