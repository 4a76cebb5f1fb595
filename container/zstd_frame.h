// The sealed form's second codec: the record as one zstd frame. The frame
// states its content size and carries no checksum of its own (every chunk's
// tag already proves the bytes); its window is at most kZstdMaxWindowLog, so
// that a reader's memory stays the payload plus a few tens of MiB. The
// expander yields the record a piece at a time, like the LZAP decoder, and
// never writes past the capacity it is given.
#ifndef LUMISAFE_CONTAINER_ZSTD_FRAME_H
#define LUMISAFE_CONTAINER_ZSTD_FRAME_H

#include <cstddef>
#include <cstdint>

enum : uint32_t {
    kZstdMaxWindowLog = 24, // 16 MiB: what writers may use, and all a reader allows
    kZstdDefaultLevel = 9,
    kZstdMaxLevel = 19,
};

enum ZstdFrameStatus : int {
    kZstdMore = 1,    // the output piece is full; call again
    kZstdDone = 2,    // the frame has ended where the input ends, with the size it stated
    kZstdDamaged = 3, // malformed, cut short, longer or shorter than stated, or bytes after it
    kZstdNewer = 4,   // a window above kZstdMaxWindowLog: a later writer's setting, or crafted
    kZstdNoMemory = 5,
};

struct ZstdExpander {
    void* context; // ZSTD_DStream
    const uint8_t* input;
    size_t inputLength, inputPos;
    uint64_t contentSize; // what the frame says it holds
    uint64_t produced;
    int status;
};

// Reads the frame header of input[0..length) and prepares the expansion:
// kZstdMore, or kZstdDamaged / kZstdNewer / kZstdNoMemory with nothing held.
// A frame must state its content size, at most maxContent bytes.
int ZstdExpandBegin(ZstdExpander* expander, const uint8_t* input, size_t length, uint64_t maxContent);

// Expands into out[0..capacity): returns the bytes written and sets status.
// Never writes more than capacity, and never produces more than the frame
// stated.
uint32_t ZstdExpandSome(ZstdExpander* expander, uint8_t* out, uint32_t capacity);

// Releases the decoder; safe to call again, and on an expander never begun
// if it was zeroed.
void ZstdExpandEnd(ZstdExpander* expander);

#endif
