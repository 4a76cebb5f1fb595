#include "lzap.h"

#include <cstring>

#include "bytes.h"

const uint8_t kLzapMagic[4] = {0x71, 0x0A, 0x09, 0x0D};

int LzapHasHeader(const uint8_t* block, uint32_t size)
{
    return size >= kLzapHeaderSize && std::memcmp(block, kLzapMagic, 4) == 0;
}

// --- recency list -----------------------------------------------------------

// The list is a ring through entry kLzapNone (see LzapDecoder): a new head
// goes behind that entry.
static void Unlink(LzapDecoder* d, const LzapEntry* x)
{
    d->entry[x->newer].older = x->older;
    d->entry[x->older].newer = x->newer;
}

// Places entry e directly behind `at`: behind a node of 256 or above, or at
// the head when `at` is kLzapNone.
static void InsertBehind(LzapDecoder* d, uint32_t at, LzapEntry* x, uint32_t e)
{
    LzapEntry* n = &d->entry[at];
    const uint32_t b = n->older;
    x->newer = static_cast<uint16_t>(at);
    x->older = static_cast<uint16_t>(b);
    d->entry[b].newer = static_cast<uint16_t>(e);
    n->older = static_cast<uint16_t>(e);
}

// Where a new child of `node` goes in the list: right behind it, or at the
// head when node is a literal (literals are not in the list).
static uint32_t ListAnchor(uint32_t node)
{
    return node >= kLzapFirstCode ? node : kLzapNone;
}

// --- child lists ------------------------------------------------------------

static uint32_t FindChild(const LzapDecoder* d, uint32_t node, uint8_t b)
{
#ifndef LUMISAFE_COMPACT
    if (node < kLzapFirstCode) {
        const uint32_t c = d->literalChild[node][b];
        return c ? c : kLzapNone;
    }
#endif
    uint32_t c = d->entry[node].firstChild;
    while (c != kLzapNone && d->entry[c].byte != b) c = d->entry[c].nextSibling;
    return c;
}

#ifndef LUMISAFE_COMPACT
static uint16_t* LiteralChildSlot(LzapDecoder* d, uint32_t parent, uint8_t b)
{
    return &d->literalChild[parent < kLzapFirstCode ? parent : kLzapFirstCode][b];
}
#endif

static void AddChild(LzapDecoder* d, uint32_t node, LzapEntry* x, uint32_t e)
{
    LzapEntry* n = &d->entry[node];
    const uint32_t first = n->firstChild;
    x->prevSibling = kLzapNone;
    x->nextSibling = static_cast<uint16_t>(first);
    d->entry[first].prevSibling = static_cast<uint16_t>(e);
    n->firstChild = static_cast<uint16_t>(e);
#ifndef LUMISAFE_COMPACT
    *LiteralChildSlot(d, node, x->byte) = static_cast<uint16_t>(e);
#endif
}

static void RemoveChild(LzapDecoder* d, const LzapEntry* x)
{
    const uint32_t a = x->prevSibling, b = x->nextSibling;
    uint16_t* const link = a != kLzapNone ? &d->entry[a].nextSibling : &d->entry[x->parent].firstChild;
    *link = static_cast<uint16_t>(b);
    d->entry[b].prevSibling = static_cast<uint16_t>(a);
#ifndef LUMISAFE_COMPACT
    *LiteralChildSlot(d, x->parent, x->byte) = 0;
#endif
}

// --- dictionary -------------------------------------------------------------

static void ResetDictionary(LzapDecoder* d)
{
    for (uint32_t b = 0; b < kLzapFirstCode; ++b) {
        LzapEntry* x = &d->entry[b];
        x->byte = static_cast<uint8_t>(b);
        x->length = 1;
        x->parent = kLzapNone;
        x->firstChild = kLzapNone;
    }
#ifndef LUMISAFE_COMPACT
    std::memset(d->literalChild, 0, sizeof d->literalChild);
#endif
    d->entry[kLzapNone].newer = d->entry[kLzapNone].older = kLzapNone;
    d->nextFree = kLzapFirstCode;
    d->width = 1;
    d->capacity = 2;
}

#ifndef LUMISAFE_COMPACT
// The usual case once the table is full: the c new entries are the c least
// recently used ones, and they form one chain below node. Taking them all
// and linking the chain in one go gives the same table as taking them one by
// one, provided node is not among them; the caller makes sure of that.
// Unlinking an entry from its old parent never touches an entry taken before
// it: a parent is always newer than its children, and each taken entry has
// left its sibling list before the next one leaves.
static void AppendReused(LzapDecoder* d, uint32_t node, const uint8_t* s, uint32_t c)
{
    LzapEntry* const ring = &d->entry[kLzapNone];
    const uint32_t anchor = ListAnchor(node);
    const uint32_t first = ring->newer;
    uint32_t t = first, parent = node, newer = anchor;
    uint32_t length = d->entry[node].length;
    LzapEntry* x = nullptr;
    for (uint32_t j = 0; j < c; ++j) {
        x = &d->entry[t];
        // The next entry to take is the one in front of this one.
        const uint32_t next = x->newer;
        RemoveChild(d, x);
        x->byte = s[j];
        x->parent = static_cast<uint16_t>(parent);
        x->length = static_cast<uint8_t>(++length);
        x->firstChild = static_cast<uint16_t>(next);
        x->nextSibling = x->prevSibling = kLzapNone;
        x->newer = static_cast<uint16_t>(newer);
        x->older = static_cast<uint16_t>(next);
        parent = newer = t;
        t = next;
    }
    // t, the newest entry left behind, becomes the tail.
    const uint32_t last = parent;
    d->entry[t].older = kLzapNone;
    ring->newer = static_cast<uint16_t>(t);
    x->firstChild = kLzapNone;
    // The chain's first entry joins node's children, and the chain stands
    // right behind node, or at the head below a literal.
    LzapEntry* const f = &d->entry[first];
    AddChild(d, node, f, first);
    LzapEntry* const a = &d->entry[anchor];
    const uint32_t behind = a->older;
    x->older = static_cast<uint16_t>(behind);
    d->entry[behind].newer = static_cast<uint16_t>(last);
    a->older = static_cast<uint16_t>(first);
}

// Nonzero when none of the c least recently used entries is node.
static int TailClearOf(const LzapDecoder* d, uint32_t node, uint32_t c)
{
    uint32_t t = LzapTail(d);
    for (uint32_t j = 0; j < c; ++j, t = d->entry[t].newer)
        if (t == node || t == kLzapNone) return 0;
    return 1;
}
#endif

// Extends the previous string by every prefix of the current one, reusing the
// least recently used entry once all are assigned. The tail of the recency
// list never has children, since every entry stands behind its parent, so
// reusing it orphans nothing.
static void UpdateDictionary(LzapDecoder* d, const uint8_t* s, uint32_t m)
{
    if (d->prevCode == kLzapNone) return;
    uint32_t node = d->prevCode;
    const uint32_t room = kLzapMaxString - d->prevLength; // bytes the strings may still grow
    const uint32_t end = m < room ? m : room;
    uint32_t i = 0;
    // Walk down the prefixes that exist; below the first new entry there are
    // no children to look for.
    for (; i < end; ++i) {
        const uint32_t child = FindChild(d, node, s[i]);
        if (child == kLzapNone) break;
        node = child;
    }
#ifndef LUMISAFE_COMPACT
    // With no prefix found, node is the previous code, which the last symbol
    // moved to the head: thousands of entries from the tail.
    if (i < end && d->nextFree == kLzapEntries && (i == 0 || TailClearOf(d, node, end - i))) {
        AppendReused(d, node, s + i, end - i);
        return;
    }
#endif
    for (; i < end; ++i) {
        uint32_t e;
        if (d->nextFree < kLzapEntries) {
            e = d->nextFree++;
        } else {
            e = LzapTail(d);
            if (e == node) return;
            const LzapEntry* old = &d->entry[e];
            Unlink(d, old);
            RemoveChild(d, old);
        }
        LzapEntry* x = &d->entry[e];
        x->byte = s[i];
        x->parent = static_cast<uint16_t>(node);
        x->length = static_cast<uint8_t>(d->entry[node].length + 1);
        x->firstChild = kLzapNone;
        AddChild(d, node, x, e);
        InsertBehind(d, ListAnchor(node), x, e);
        node = e;
    }
}

// Writes the string of `code` to dst and moves its path to the head of the
// recency list, shortest prefix first. Returns the string's length.
static uint32_t EmitString(LzapDecoder* d, uint32_t code, uint8_t* dst)
{
    const uint32_t n = d->entry[code].length;
    uint32_t pos = n;
    uint32_t e = code;
#ifdef LUMISAFE_COMPACT
    // One entry at a time: the same order, in less code.
    while (e >= kLzapFirstCode) {
        LzapEntry* x = &d->entry[e];
        if (e != LzapHead(d)) {
            Unlink(d, x);
            InsertBehind(d, kLzapNone, x, e);
        }
        dst[--pos] = x->byte;
        e = x->parent;
    }
#else
    while (e >= kLzapFirstCode) {
        // A run of path entries that already stand each right behind its
        // parent moves to the head as one piece.
        const uint32_t bottom = e;
        LzapEntry* x = &d->entry[e];
        dst[--pos] = x->byte;
        uint32_t p = x->parent;
        while (p >= kLzapFirstCode && x->newer == p) {
            e = p;
            x = &d->entry[e];
            dst[--pos] = x->byte;
            p = x->parent;
        }
        if (e != LzapHead(d)) {
            LzapEntry* const bot = &d->entry[bottom];
            LzapEntry* const ring = &d->entry[kLzapNone];
            const uint32_t a = x->newer, b = bot->older;
            d->entry[a].older = static_cast<uint16_t>(b);
            d->entry[b].newer = static_cast<uint16_t>(a);
            const uint32_t h = ring->older;
            x->newer = kLzapNone;
            bot->older = static_cast<uint16_t>(h);
            d->entry[h].newer = static_cast<uint16_t>(bottom);
            ring->older = static_cast<uint16_t>(e);
        }
        e = p;
    }
#endif
    dst[0] = static_cast<uint8_t>(e);
    return n;
}

// --- bit reader -------------------------------------------------------------

// Keeps at least 57 bits in the reservoir; past the input every bit reads 1.
static void Refill(LzapDecoder* d)
{
    if (d->bitCount > 56) return;
#ifndef LUMISAFE_COMPACT
    if (d->inputSize - d->inputPos >= 8) {
        // Whole bytes from one 8-byte big-endian load, placed below the bits held.
        const uint8_t* p = d->input + d->inputPos;
        // Spelled out so the compiler makes it one load and a byte swap.
        const uint64_t word = (static_cast<uint64_t>(p[0]) << 56) | (static_cast<uint64_t>(p[1]) << 48) |
                              (static_cast<uint64_t>(p[2]) << 40) | (static_cast<uint64_t>(p[3]) << 32) |
                              (static_cast<uint64_t>(p[4]) << 24) | (static_cast<uint64_t>(p[5]) << 16) |
                              (static_cast<uint64_t>(p[6]) << 8) | static_cast<uint64_t>(p[7]);
        const uint32_t bytes = (63 - d->bitCount) >> 3;
        d->bits |= (word >> d->bitCount) & ~(~0ull >> (d->bitCount + 8 * bytes));
        d->bitCount += 8 * bytes;
        d->inputPos += bytes;
        return;
    }
#endif
    while (d->bitCount <= 56) {
        const uint64_t next = d->inputPos < d->inputSize ? d->input[d->inputPos++] : 0xFFu;
        d->bits |= next << (56 - d->bitCount);
        d->bitCount += 8;
    }
}

static void DropBits(LzapDecoder* d, uint32_t k)
{
    d->bits <<= k;
    d->bitCount -= k;
}

// --- decoding ---------------------------------------------------------------

int LzapDecodeBegin(LzapDecoder* d, const uint8_t* stream, uint32_t size)
{
    ResetDictionary(d);
    d->input = stream;
    d->inputSize = size;
    d->inputPos = kLzapHeaderSize;
    d->bits = 0;
    d->bitCount = 0;
    d->outputCount = 0;
    d->prevCode = kLzapNone;
    d->prevLength = 0;
    d->outputSize = LoadLE32(stream + 4);
    const uint64_t reachable = static_cast<uint64_t>(size - kLzapHeaderSize) * kLzapMaxExpansion;
    if (d->outputSize > kLzapMaxOutput || d->outputSize > reachable) {
        d->status = kLzapDamaged;
        return 0;
    }
    d->status = d->outputSize == 0 ? kLzapDone : kLzapMore;
    return 1;
}

uint32_t LzapDecodeSome(LzapDecoder* d, uint8_t* out, uint32_t capacity)
{
    uint32_t written = 0;
    while (d->status == kLzapMore) {
        if (d->outputCount >= d->outputSize) {
            d->status = kLzapDone;
            break;
        }
        if (capacity - written < kLzapMaxString) break;
        // The width grows by at most one bit per symbol, literals included.
        if (d->nextFree - kLzapFirstCode >= d->capacity) {
            d->capacity <<= 1;
            ++d->width;
        }
        Refill(d);
        // Flag 0: a literal in the next 8 bits; flag 1: an index of `width`
        // bits. Both are read from the reservoir and one is kept.
        const uint32_t flag = static_cast<uint32_t>(d->bits >> 63);
        const uint32_t literal = static_cast<uint32_t>(d->bits >> 55) & 0xFFu;
        const uint32_t index = static_cast<uint32_t>((d->bits << 1) >> (64 - d->width));
        const uint32_t code = flag ? index + kLzapFirstCode : literal;
        DropBits(d, flag ? d->width + 1 : 9);
        // An index not yet assigned; a literal is always below nextFree.
        if (code >= d->nextFree) {
            d->status = kLzapDamaged;
            break;
        }
        uint8_t* const s = out + written;
        const uint32_t m = EmitString(d, code, s);
        UpdateDictionary(d, s, m);
        written += m;
        d->outputCount += m;
        d->prevCode = code;
        d->prevLength = m;
    }
    return written;
}

int Decompress(LzapDecoder* d, MemBlock* block)
{
    if (d->busy) {
        d->status = kLzapBusy;
        return 0;
    }
    if (!LzapHasHeader(block->address, block->size)) return 1;
    d->busy = 1;
    if (!LzapDecodeBegin(d, block->address, block->size)) {
        d->busy = 0;
        return 0;
    }
    // Room for the declared size and the overrun of the last string.
    const uint32_t full = d->outputSize + kLzapMaxString;
    MemBlock out;
    if (!MemBlockAlloc(&out, full < kLzapInitialOutput ? full : kLzapInitialOutput)) {
        d->status = kLzapNoMemory;
        d->busy = 0;
        return 0;
    }
    out.size = 0;
    for (;;) {
        out.size += LzapDecodeSome(d, out.address + out.size, out.capacity - out.size);
        if (d->status != kLzapMore) break;
        const uint32_t produced = out.size;
        const uint32_t grown = out.capacity >= full / 2 ? full : out.capacity * 2;
        if (!MemBlockResize(&out, grown)) {
            d->status = kLzapNoMemory;
            break;
        }
        out.size = produced;
    }
    if (d->status != kLzapDone) {
        MemBlockFree(&out);
        d->busy = 0;
        return 0;
    }
    MemBlockFree(block);
    *block = out;
    d->busy = 0;
    return 1;
}
