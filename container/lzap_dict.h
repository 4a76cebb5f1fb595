// The dictionary of the LZAP coder, shared by the decoder and the encoder so
// that both keep it by the same code: child lists, the recency list, and the
// update after each symbol. Internal to container/.
#ifndef LUMISAFE_CONTAINER_LZAP_DICT_H
#define LUMISAFE_CONTAINER_LZAP_DICT_H

#include <cstring>

#include "lzap.h"

// --- recency list -----------------------------------------------------------

static inline void Unlink(LzapDictionary* d, const LzapEntry* x)
{
    const uint32_t a = x->newer, b = x->older;
    if (a != kLzapNone) d->entry[a].older = static_cast<uint16_t>(b); else d->head = b;
    if (b != kLzapNone) d->entry[b].newer = static_cast<uint16_t>(a); else d->tail = a;
}

// Places entry e directly behind `at`: behind a node of 256 or above, or at
// the head when `at` is kLzapNone.
static inline void InsertBehind(LzapDictionary* d, uint32_t at, LzapEntry* x, uint32_t e)
{
    if (at == kLzapNone) {
        x->newer = kLzapNone;
        x->older = static_cast<uint16_t>(d->head);
        if (d->head != kLzapNone) d->entry[d->head].newer = static_cast<uint16_t>(e); else d->tail = e;
        d->head = e;
        return;
    }
    LzapEntry* n = &d->entry[at];
    const uint32_t b = n->older;
    x->newer = static_cast<uint16_t>(at);
    x->older = static_cast<uint16_t>(b);
    n->older = static_cast<uint16_t>(e);
    if (b != kLzapNone) d->entry[b].newer = static_cast<uint16_t>(e); else d->tail = e;
}

// Where a new child of `node` goes in the list: right behind it, or at the
// head when node is a literal (literals are not in the list).
static inline uint32_t ListAnchor(uint32_t node)
{
    return node >= kLzapFirstCode ? node : kLzapNone;
}

// --- child lists ------------------------------------------------------------

static inline uint32_t FindChild(const LzapDictionary* d, uint32_t node, uint8_t b)
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

static inline void AddChild(LzapDictionary* d, uint32_t node, LzapEntry* x, uint32_t e)
{
#ifndef LUMISAFE_COMPACT
    if (node < kLzapFirstCode) {
        d->literalChild[node][x->byte] = static_cast<uint16_t>(e);
        return;
    }
#endif
    LzapEntry* n = &d->entry[node];
    const uint32_t first = n->firstChild;
    x->prevSibling = kLzapNone;
    x->nextSibling = static_cast<uint16_t>(first);
    d->entry[first].prevSibling = static_cast<uint16_t>(e);
    n->firstChild = static_cast<uint16_t>(e);
}

static inline void RemoveChild(LzapDictionary* d, const LzapEntry* x)
{
#ifndef LUMISAFE_COMPACT
    if (x->parent < kLzapFirstCode) {
        d->literalChild[x->parent][x->byte] = 0;
        return;
    }
#endif
    const uint32_t a = x->prevSibling, b = x->nextSibling;
    uint16_t* const link = a != kLzapNone ? &d->entry[a].nextSibling : &d->entry[x->parent].firstChild;
    *link = static_cast<uint16_t>(b);
    d->entry[b].prevSibling = static_cast<uint16_t>(a);
}

// --- dictionary -------------------------------------------------------------

static inline void ResetDictionary(LzapDictionary* d)
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
    d->head = d->tail = kLzapNone;
    d->nextFree = kLzapFirstCode;
    d->width = 1;
    d->capacity = 2;
    d->prevCode = kLzapNone;
    d->prevLength = 0;
}

// Made before every symbol, literals included, so the width grows by at most
// one bit per symbol.
static inline void WidenCodes(LzapDictionary* d)
{
    if (d->nextFree - kLzapFirstCode >= d->capacity) {
        d->capacity <<= 1;
        ++d->width;
    }
}

#ifndef LUMISAFE_COMPACT
// The usual case once the table is full: the c new entries are the c least
// recently used ones, and they form one chain below node. Taking them all
// and linking the chain in one go gives the same table as taking them one by
// one, provided node is not among them; the caller makes sure of that.
// Unlinking an entry from its old parent never touches an entry taken before
// it: a parent is always newer than its children, and each taken entry has
// left its sibling list before the next one leaves.
static inline void AppendReused(LzapDictionary* d, uint32_t node, const uint8_t* s, uint32_t c)
{
    const uint32_t anchor = ListAnchor(node);
    const uint32_t first = d->tail;
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
    d->tail = t;
    x->firstChild = kLzapNone;
    // The chain's first entry joins node's children, and the chain stands
    // right behind node, or at the head below a literal.
    LzapEntry* const f = &d->entry[first];
    AddChild(d, node, f, first);
    uint32_t behind;
    if (anchor != kLzapNone) {
        LzapEntry* const a = &d->entry[anchor];
        behind = a->older;
        a->older = static_cast<uint16_t>(first);
    } else {
        behind = d->head;
        d->head = first;
    }
    x->older = static_cast<uint16_t>(behind);
    if (behind != kLzapNone) d->entry[behind].newer = static_cast<uint16_t>(last); else d->tail = last;
}

// Nonzero when none of the c least recently used entries is node.
static inline int TailClearOf(const LzapDictionary* d, uint32_t node, uint32_t c)
{
    uint32_t t = d->tail;
    for (uint32_t j = 0; j < c; ++j, t = d->entry[t].newer)
        if (t == node || t == kLzapNone) return 0;
    return 1;
}
#endif

// Extends the previous string by every prefix of the current one, reusing the
// least recently used entry once all are assigned. The tail of the recency
// list never has children, since every entry stands behind its parent, so
// reusing it orphans nothing.
static inline void ExtendPrevious(LzapDictionary* d, const uint8_t* s, uint32_t m)
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
            e = d->tail;
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

// The update after a symbol: code, whose string s of m bytes has just been
// written, extends the previous one and becomes the previous one.
static inline void UpdateDictionary(LzapDictionary* d, uint32_t code, const uint8_t* s, uint32_t m)
{
    ExtendPrevious(d, s, m);
    d->prevCode = code;
    d->prevLength = m;
}

// Writes the string of `code` to dst and moves its path to the head of the
// recency list, shortest prefix first. Returns the string's length.
static inline uint32_t EmitString(LzapDictionary* d, uint32_t code, uint8_t* dst)
{
    const uint32_t n = d->entry[code].length;
    uint32_t pos = n;
    uint32_t e = code;
#ifdef LUMISAFE_COMPACT
    // One entry at a time: the same order, in less code.
    while (e >= kLzapFirstCode) {
        LzapEntry* x = &d->entry[e];
        if (e != d->head) {
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
        if (e != d->head) {
            LzapEntry* bot = &d->entry[bottom];
            const uint32_t a = x->newer, b = bot->older;
            d->entry[a].older = static_cast<uint16_t>(b);
            if (b != kLzapNone) d->entry[b].newer = static_cast<uint16_t>(a); else d->tail = a;
            x->newer = kLzapNone;
            bot->older = static_cast<uint16_t>(d->head);
            d->entry[d->head].newer = static_cast<uint16_t>(bottom);
            d->head = e;
        }
        e = p;
    }
#endif
    dst[0] = static_cast<uint8_t>(e);
    return n;
}

#endif
