#include "lzap_encode.h"

#include <cstdlib>
#include <cstring>

#include "bytes.h"
#include "lzap.h"

// The encoder finds children through a direct table indexed by parent and
// byte (2 MiB) instead of the decoder's sibling lists: the dictionary is the
// same, only the lookup is faster. Child code 0 means none, since a literal is
// never anybody's child.
struct LzapEncoder {
    uint16_t child[kLzapEntries * 256];
    uint8_t byte[kLzapEntries];
    uint8_t length[kLzapEntries];
    uint16_t parent[kLzapEntries];
    uint16_t newer[kLzapEntries];
    uint16_t older[kLzapEntries];
    uint32_t head, tail;
    uint32_t nextFree, width, capacity;
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
    // Zeroed once; later resets clear only the child slots in use.
    LzapEncoder* e = static_cast<LzapEncoder*>(std::calloc(1, sizeof(LzapEncoder)));
    if (e) e->nextFree = kLzapFirstCode;
    return e;
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

static void Reset(LzapEncoder* e)
{
    // Every nonzero child slot belongs to an assigned entry: clearing those
    // is cheaper than clearing 2 MiB for every small input.
    for (uint32_t x = kLzapFirstCode; x < e->nextFree; ++x) e->child[e->parent[x] * 256u + e->byte[x]] = 0;
    for (uint32_t b = 0; b < kLzapFirstCode; ++b) {
        e->byte[b] = static_cast<uint8_t>(b);
        e->length[b] = 1;
        e->parent[b] = kLzapNone;
    }
    e->head = e->tail = kLzapNone;
    e->nextFree = kLzapFirstCode;
    e->width = 1;
    e->capacity = 2;
}

static void Unlink(LzapEncoder* e, uint32_t x)
{
    const uint32_t a = e->newer[x], b = e->older[x];
    if (a != kLzapNone) e->older[a] = static_cast<uint16_t>(b); else e->head = b;
    if (b != kLzapNone) e->newer[b] = static_cast<uint16_t>(a); else e->tail = a;
}

static void PushHead(LzapEncoder* e, uint32_t x)
{
    e->newer[x] = kLzapNone;
    e->older[x] = static_cast<uint16_t>(e->head);
    if (e->head != kLzapNone) e->newer[e->head] = static_cast<uint16_t>(x); else e->tail = x;
    e->head = x;
}

static void InsertBehind(LzapEncoder* e, uint32_t node, uint32_t x)
{
    const uint32_t b = e->older[node];
    e->newer[x] = static_cast<uint16_t>(node);
    e->older[x] = static_cast<uint16_t>(b);
    e->older[node] = static_cast<uint16_t>(x);
    if (b != kLzapNone) e->newer[b] = static_cast<uint16_t>(x); else e->tail = x;
}

// The longest entry matching in[0..avail) whose index the current width can
// write; a literal when no entry of two bytes or more qualifies.
static uint32_t LongestMatch(const LzapEncoder* e, const uint8_t* in, uint32_t avail,
                             uint32_t* matchLength)
{
    uint32_t node = in[0], best = in[0], bestLength = 1;
    const uint32_t limit = avail < kLzapMaxString ? avail : kLzapMaxString;
    for (uint32_t k = 1; k < limit; ++k) {
        const uint32_t c = e->child[node * 256 + in[k]];
        if (c == 0) break;
        node = c;
        if (c - kLzapFirstCode < e->capacity) {
            best = c;
            bestLength = k + 1;
        }
    }
    *matchLength = bestLength;
    return best;
}

static void MoveToHead(LzapEncoder* e, uint32_t code)
{
    for (uint32_t x = code; x >= kLzapFirstCode; x = e->parent[x]) {
        if (x != e->head) {
            Unlink(e, x);
            PushHead(e, x);
        }
    }
}

static void Update(LzapEncoder* e, uint32_t prevCode, uint32_t prevLength, const uint8_t* s,
                   uint32_t m)
{
    if (prevCode == kLzapNone) return;
    uint32_t node = prevCode;
    int fresh = 0; // below a new entry there are no children to look up
    for (uint32_t i = 0; i < m; ++i) {
        if (prevLength + i + 1 > kLzapMaxString) return;
        if (!fresh) {
            const uint32_t c = e->child[node * 256 + s[i]];
            if (c != 0) {
                node = c;
                continue;
            }
            fresh = 1;
        }
        uint32_t x;
        if (e->nextFree < kLzapEntries) {
            x = e->nextFree++;
        } else {
            x = e->tail;
            if (x == node) return;
            Unlink(e, x);
            e->child[e->parent[x] * 256 + e->byte[x]] = 0;
        }
        e->byte[x] = s[i];
        e->parent[x] = static_cast<uint16_t>(node);
        e->length[x] = static_cast<uint8_t>(e->length[node] + 1);
        e->child[node * 256 + s[i]] = static_cast<uint16_t>(x);
        if (node >= kLzapFirstCode) InsertBehind(e, node, x); else PushHead(e, x);
        node = x;
    }
}

size_t LzapCompress(LzapEncoder* e, const uint8_t* in, uint32_t n, uint8_t* out,
                    size_t outCapacity, LzapProgress progress, void* progressContext)
{
    if (outCapacity < LzapCompressBound(n)) return 0;
    Reset(e);
    std::memcpy(out, kLzapMagic, 4);
    StoreLE32(out + 4, n);
    BitWriter w = {out, outCapacity, kLzapHeaderSize, 0, 0};
    uint32_t prevCode = kLzapNone, prevLength = 0;
    uint32_t pos = 0, nextReport = 1u << 20;
    while (pos < n) {
        if (e->nextFree - kLzapFirstCode >= e->capacity) {
            e->capacity <<= 1;
            ++e->width;
        }
        uint32_t m;
        uint32_t code = LongestMatch(e, in + pos, n - pos, &m);
        // Lazy step: when the match one byte later is longer by more than a
        // byte, a literal now and that match next usually cover more input
        // per bit. The next match is looked up afresh after this symbol's
        // update, so only valid indices are ever written.
        if (e->lazy && m >= 2 && pos + 1 < n) {
            uint32_t next;
            LongestMatch(e, in + pos + 1, n - pos - 1, &next);
            if (next > m + 1) {
                code = in[pos];
                m = 1;
            }
        }
        if (code < kLzapFirstCode) PutBits(&w, code, 9); // flag 0 and the byte
        else PutBits(&w, (1u << e->width) | (code - kLzapFirstCode), e->width + 1);
        MoveToHead(e, code);
        Update(e, prevCode, prevLength, in + pos, m);
        prevCode = code;
        prevLength = m;
        pos += m;
        if (progress && pos >= nextReport) {
            progress(progressContext, pos, n);
            nextReport = pos + (1u << 20);
        }
    }
    FlushBits(&w);
    return w.pos;
}
