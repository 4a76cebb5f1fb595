// The LZAP encoder: mirrors the decoder's dictionary and recency list exactly
// and writes, at each position, the longest dictionary match that the current
// code width can express.
#ifndef LUMISAFE_CONTAINER_LZAP_ENCODE_H
#define LUMISAFE_CONTAINER_LZAP_ENCODE_H

#include <cstddef>
#include <cstdint>

struct LzapEncoder;

// Called now and then with the bytes consumed so far.
typedef void (*LzapProgress)(void* context, uint64_t done, uint64_t total);

LzapEncoder* LzapEncoderCreate();

// Nonzero: look one byte ahead before taking a match (often a few per cent
// smaller on prose, sometimes larger; about a third slower). Off by default.
void LzapEncoderSetLazy(LzapEncoder* e, int lazy);
void LzapEncoderDestroy(LzapEncoder* e);

// Largest stream LzapCompress can write for n input bytes: every byte a
// 9-bit literal, plus the header and the last partial byte.
size_t LzapCompressBound(uint32_t n);

// Compresses in[0..n) into out (capacity outCapacity, at least
// LzapCompressBound(n)). Returns the stream length, or 0 when out is too small.
size_t LzapCompress(LzapEncoder* e, const uint8_t* in, uint32_t n, uint8_t* out,
                    size_t outCapacity, LzapProgress progress, void* progressContext);

// The same stream made from the input in pieces, so that it need not be in
// memory at once: Begin writes the header (kLzapHeaderSize bytes) for n
// input bytes in all; each Some takes the input not yet taken, window[0..avail),
// and takes as much of it as it can without knowing what follows (a match
// may need kLzapLookahead bytes), or all of it when `last`; End writes the
// last partial byte. Some and End write whole bytes into out, at most
// LzapCompressBound(avail) bytes, and return how many; *taken receives the
// input bytes taken, which the caller drops from its window.
enum : uint32_t { kLzapLookahead = 129 };
void LzapCompressBegin(LzapEncoder* e, uint32_t n, uint8_t* header);
size_t LzapCompressSome(LzapEncoder* e, const uint8_t* window, uint32_t avail, int last, uint8_t* out,
                        uint32_t* taken);
size_t LzapCompressEnd(LzapEncoder* e, uint8_t* out);

#endif
