#include "lzap.h"

#include <cstring>

#include "bytes.h"
#include "lzap_dict.h"

const uint8_t kLzapMagic[4] = {0x71, 0x0A, 0x09, 0x0D};

int LzapHasHeader(const uint8_t* block, uint32_t size)
{
    return size >= kLzapHeaderSize && std::memcmp(block, kLzapMagic, 4) == 0;
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
    ResetDictionary(&d->dict);
    d->input = stream;
    d->inputSize = size;
    d->inputPos = kLzapHeaderSize;
    d->bits = 0;
    d->bitCount = 0;
    d->outputCount = 0;
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
    LzapDictionary* const dict = &d->dict;
    uint32_t written = 0;
    while (d->status == kLzapMore) {
        if (d->outputCount >= d->outputSize) {
            d->status = kLzapDone;
            break;
        }
        if (capacity - written < kLzapMaxString) break;
        WidenCodes(dict);
        Refill(d);
        // Flag 0: a literal in the next 8 bits; flag 1: an index of `width`
        // bits. Both are read from the reservoir and one is kept.
        const uint32_t flag = static_cast<uint32_t>(d->bits >> 63);
        const uint32_t literal = static_cast<uint32_t>(d->bits >> 55) & 0xFFu;
        const uint32_t index = static_cast<uint32_t>((d->bits << 1) >> (64 - dict->width));
        const uint32_t code = flag ? index + kLzapFirstCode : literal;
        DropBits(d, flag ? dict->width + 1 : 9);
        // An index not yet assigned; a literal is always below nextFree.
        if (code >= dict->nextFree) {
            d->status = kLzapDamaged;
            break;
        }
        uint8_t* const s = out + written;
        const uint32_t m = EmitString(dict, code, s);
        UpdateDictionary(dict, code, s, m);
        written += m;
        d->outputCount += m;
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
