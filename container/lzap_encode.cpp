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
};

struct BitWriter {
    uint8_t* out;
    size_t capacity;
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

size_t LzapCompress(LzapEncoder* e, const uint8_t* in, uint32_t n, uint8_t* out,
                    size_t outCapacity, LzapProgress progress, void* progressContext)
{
    if (outCapacity < LzapCompressBound(n)) return 0;
    LzapDictionary* const d = &e->dict;
    ResetDictionary(d);
    std::memcpy(out, kLzapMagic, 4);
    StoreLE32(out + 4, n);
    BitWriter w = {out, outCapacity, kLzapHeaderSize, 0, 0};
    uint8_t scratch[kLzapMaxString];
    uint32_t pos = 0, nextReport = 1u << 20;
    while (pos < n) {
        WidenCodes(d);
        uint32_t m;
        uint32_t code = LongestMatch(d, in + pos, n - pos, &m);
        // Lazy step: when the match one byte later is longer by more than a
        // byte, a literal now and that match next usually cover more input
        // per bit. The next match is looked up afresh after this symbol's
        // update, so only valid indices are ever written.
        if (e->lazy && m >= 2 && pos + 1 < n) {
            uint32_t next;
            LongestMatch(d, in + pos + 1, n - pos - 1, &next);
            if (next > m + 1) {
                code = in[pos];
                m = 1;
            }
        }
        if (code < kLzapFirstCode) PutBits(&w, code, 9); // flag 0 and the byte
        else PutBits(&w, (1u << d->width) | (code - kLzapFirstCode), d->width + 1);
        // The same recency moves and update as the decoder makes; the string
        // it writes out is the input's, so it goes to scratch.
        EmitString(d, code, scratch);
        UpdateDictionary(d, code, in + pos, m);
        pos += m;
        if (progress && pos >= nextReport) {
            progress(progressContext, pos, n);
            nextReport = pos + (1u << 20);
        }
    }
    FlushBits(&w);
    return w.pos;
}
