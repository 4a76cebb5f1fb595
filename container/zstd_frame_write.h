// Encoder side of the sealed form's zstd codec (zstd_frame.h): the frame
// parameters every writer uses, and a one-shot compressor for records that
// are already in memory.
#ifndef LUMISAFE_CONTAINER_ZSTD_FRAME_WRITE_H
#define LUMISAFE_CONTAINER_ZSTD_FRAME_WRITE_H

#include <cstddef>
#include <cstdint>

// Sets a ZSTD_CCtx for one frame of a record of contentSize bytes: the level
// (1 to kZstdMaxLevel), the content size stated, no checksum, and a window
// of at most 2^kZstdMaxWindowLog bytes. longWindow also turns on long-distance
// matching over that whole window. Nonzero on success.
int ZstdWriterSetup(void* context, int level, int longWindow, uint64_t contentSize);

// Room a frame of n input bytes may need.
size_t ZstdFrameBound(size_t n);

// Compresses in[0..n) into one frame in out[0..capacity): its length, or 0
// when out is too small or the level is out of range.
size_t ZstdCompressFrame(const uint8_t* in, size_t n, int level, int longWindow, uint8_t* out, size_t capacity);

#endif
