// The LZAP dictionary coder: after each symbol the previous string is
// extended by every prefix of the current one; 4096 entries, strings of at
// most 128 bytes, least recently used entries reused once the table is full.
#ifndef LUMISAFE_CONTAINER_LZAP_H
#define LUMISAFE_CONTAINER_LZAP_H

#include <cstddef>
#include <cstdint>

#include "memblock.h"

enum : uint32_t {
    kLzapHeaderSize = 8,      // magic and output size
    kLzapEntries = 4096,
    kLzapNone = 4096,
    kLzapFirstCode = 256,
    kLzapMaxString = 128,
    kLzapMaxWidth = 12,
    // A symbol costs at least 2 bits and yields at most 128 bytes, so a
    // stream of B bytes after its header can describe at most 512 * B bytes.
    kLzapMaxExpansion = 512,
    // Output sizes above this are refused: no 32-bit process could hold them.
    kLzapMaxOutput = 0x7FFFFF00u,
    // The decoder grows its output as it goes, starting at most this big, so
    // that a large size declared by a damaged or mistyped stream costs nothing
    // before the stream proves itself.
    kLzapInitialOutput = 16u << 20,
};

extern const uint8_t kLzapMagic[4]; // 71 0A 09 0D, "q\n\t\r"

enum LzapStatus : int {
    kLzapOk = 0,
    kLzapMore = 1,      // the output chunk is full; call again
    kLzapDone = 2,      // the declared size has been produced
    kLzapDamaged = 3,   // an unassigned code, or a size beyond the bounds
    kLzapNoMemory = 4,
    kLzapBusy = 5,
};

// One dictionary entry. Everything an operation touches of an entry lies in
// one 16-byte record, so each step of a tree or list walk costs one cache
// line instead of one per field.
struct LzapEntry {
    uint16_t parent;
    uint16_t firstChild;  // children, newest first, linked through the siblings
    uint16_t nextSibling;
    uint16_t prevSibling;
    uint16_t newer; // recency list: toward the head
    uint16_t older; // recency list: toward the tail
    uint8_t byte;
    uint8_t length; // string length, 1 to 128
    uint8_t padding[2];
};

// The dictionary, its recency list and the code width: everything the
// decoder and the encoder must keep identical.
struct LzapDictionary {
    // Entry kLzapNone takes the writes meant for a missing sibling, so
    // linking and unlinking a child needs no test for the ends of its list
    // (a test that follows no pattern, and so costs more than the write).
    LzapEntry entry[kLzapEntries + 1];
    // The child of each literal by byte (0: none). A literal may have
    // hundreds of children, too many to walk, so outside the compact build
    // a literal's children are found, added and removed only here.
    uint16_t literalChild[kLzapFirstCode][256];
    uint32_t head, tail; // recency list: most and least recently used
    uint32_t nextFree, width, capacity;
    uint32_t prevCode, prevLength; // the symbol before, which the next extends
};

// The whole decoder state; large (about 200 KB), so the stub keeps one static
// instance and tools may allocate one per thread.
struct LzapDecoder {
    LzapDictionary dict;
    const uint8_t* input;
    uint32_t inputSize, inputPos;
    uint64_t bits;      // bit reservoir, next bit at the top
    uint32_t bitCount;  // valid bits in the reservoir
    uint32_t outputSize;  // declared size S
    uint32_t outputCount; // bytes produced so far
    int status;
    int busy;
};

// Nonzero when a block begins with the magic and is long enough to hold the
// output size. Shorter blocks count as stored records.
int LzapHasHeader(const uint8_t* block, uint32_t size);

// Starts decoding a stream that LzapHasHeader accepted. Returns 1, or 0 with
// status kLzapDamaged when the declared size is beyond the bounds.
int LzapDecodeBegin(LzapDecoder* d, const uint8_t* stream, uint32_t size);

// Decodes symbols into out while at least 128 bytes of the chunk are free and
// the declared size has not been reached; returns the bytes written and sets
// d->status to kLzapMore, kLzapDone or kLzapDamaged. The last string may run
// past the declared size by up to 127 bytes.
uint32_t LzapDecodeSome(LzapDecoder* d, uint8_t* out, uint32_t capacity);

// Decompresses a deciphered payload in place of its MemBlock. A block
// without the magic is left as it is (a stored record) and counts as success.
// With the magic, the block is replaced by the decoded output and the input
// freed. Returns 1 on success; 0 with d->status set (kLzapBusy for a nested
// call, kLzapDamaged, kLzapNoMemory), the caller's block then unchanged.
int Decompress(LzapDecoder* d, MemBlock* block);

#endif
