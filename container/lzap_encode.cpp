#include "lzap_encode.h"

#include <cstdlib>
#include <cstring>

#include "bytes.h"
#include "lzap.h"
#include "lzap_dict.h"

// The encoder keeps its dictionary by the decoder's own code, so the two
// cannot drift apart; all it adds is the search for the longest match.
struct LzapEncoder {
    LzapDictionary dict;
    int lazy;
    uint64_t acc;      // pending bits between calls, low-aligned
    uint32_t accBits;
};

struct BitWriter {
    uint8_t* out;
    size_t pos;
    uint64_t acc;      // pending bits, low-aligned
    uint32_t accBits;
};

static void PutBits(BitWriter* w, uint32_t value, uint32_t count)
{
    w->acc = (w->acc << count) | value;
    w->accBits += count;
    while (w->accBits >= 8) {
        w->accBits -= 8;
        w->out[w->pos++] = static_cast<uint8_t>(w->acc >> w->accBits);
    }
}

static void FlushBits(BitWriter* w)
{
    if (w->accBits) w->out[w->pos++] = static_cast<uint8_t>(w->acc << (8 - w->accBits));
    w->accBits = 0;
}

LzapEncoder* LzapEncoderCreate()
{
    return static_cast<LzapEncoder*>(std::calloc(1, sizeof(LzapEncoder)));
}

void LzapEncoderSetLazy(LzapEncoder* e, int lazy)
{
    e->lazy = lazy;
}

void LzapEncoderDestroy(LzapEncoder* e)
{
    std::free(e);
}

size_t LzapCompressBound(uint32_t n)
{
    return kLzapHeaderSize + (static_cast<size_t>(n) * 9 + 7) / 8;
}

// The longest entry matching in[0..avail) whose index the current width can
// write; a literal when no entry of two bytes or more qualifies.
static uint32_t LongestMatch(const LzapDictionary* d, const uint8_t* in, uint32_t avail,
                             uint32_t* matchLength)
{
    uint32_t node = in[0], best = in[0], bestLength = 1;
    const uint32_t limit = avail < kLzapMaxString ? avail : kLzapMaxString;
    for (uint32_t k = 1; k < limit; ++k) {
        const uint32_t c = FindChild(d, node, in[k]);
        if (c == kLzapNone) break;
        node = c;
        if (c - kLzapFirstCode < d->capacity) {
            best = c;
            bestLength = k + 1;
        }
    }
    *matchLength = bestLength;
    return best;
}

void LzapCompressBegin(LzapEncoder* e, uint32_t n, uint8_t* header)
{
    ResetDictionary(&e->dict);
    e->acc = 0;
    e->accBits = 0;
    std::memcpy(header, kLzapMagic, 4);
    StoreLE32(header + 4, n);
}

// One symbol at in[0]: the longest match (or, with the lazy step, a literal
// before a longer match), its code written, the dictionary updated. Returns
// the input bytes it covers.
static uint32_t EncodeSymbol(LzapEncoder* e, BitWriter* w, const uint8_t* in, uint32_t avail)
{
    LzapDictionary* const d = &e->dict;
    uint8_t scratch[kLzapMaxString];
    WidenCodes(d);
    uint32_t m;
    uint32_t code = LongestMatch(d, in, avail, &m);
    // Lazy step: when the match one byte later is longer by more than a
    // byte, a literal now and that match next usually cover more input per
    // bit. The next match is looked up afresh after this symbol's update, so
    // only valid indices are ever written.
    if (e->lazy && m >= 2 && avail > 1) {
        uint32_t next;
        LongestMatch(d, in + 1, avail - 1, &next);
        if (next > m + 1) {
            code = in[0];
            m = 1;
        }
    }
    if (code < kLzapFirstCode) PutBits(w, code, 9); // flag 0 and the byte
    else PutBits(w, (1u << d->width) | (code - kLzapFirstCode), d->width + 1);
    // The same recency moves and update as the decoder makes; the string it
    // writes out is the input's, so it goes to scratch.
    EmitString(d, code, scratch);
    UpdateDictionary(d, code, in, m);
    return m;
}

size_t LzapCompressSome(LzapEncoder* e, const uint8_t* window, uint32_t avail, int last, uint8_t* out,
                        uint32_t* taken)
{
    BitWriter w = {out, 0, e->acc, e->accBits};
    // Without the end in sight a symbol may look kLzapLookahead bytes ahead
    // (the longest match and the lazy step's next one), all of which must be
    // the input's own bytes.
    const uint32_t stop = last ? avail : (avail > kLzapLookahead ? avail - kLzapLookahead : 0);
    uint32_t pos = 0;
    while (pos < stop) pos += EncodeSymbol(e, &w, window + pos, avail - pos);
    e->acc = w.acc;
    e->accBits = w.accBits;
    *taken = pos;
    return w.pos;
}

size_t LzapCompressEnd(LzapEncoder* e, uint8_t* out)
{
    BitWriter w = {out, 0, e->acc, e->accBits};
    FlushBits(&w);
    e->acc = 0;
    e->accBits = 0;
    return w.pos;
}

size_t LzapCompress(LzapEncoder* e, const uint8_t* in, uint32_t n, uint8_t* out,
                    size_t outCapacity, LzapProgress progress, void* progressContext)
{
    if (outCapacity < LzapCompressBound(n)) return 0;
    LzapCompressBegin(e, n, out);
    BitWriter w = {out, kLzapHeaderSize, 0, 0};
    uint32_t pos = 0, nextReport = 1u << 20;
    while (pos < n) {
        pos += EncodeSymbol(e, &w, in + pos, n - pos);
        if (progress && pos >= nextReport) {
            progress(progressContext, pos, n);
            nextReport = pos + (1u << 20);
        }
    }
    FlushBits(&w);
    return w.pos;
}
