// A growable block of memory described by its logical size, its allocated
// capacity, a handle and its address. On Windows it is movable global memory
// (the handle is an HGLOBAL, locked for the block's life); elsewhere it comes
// from the C heap and the handle is the address itself.
#ifndef LUMISAFE_CONTAINER_MEMBLOCK_H
#define LUMISAFE_CONTAINER_MEMBLOCK_H

#include <cstdint>

struct MemBlock {
    uint32_t size;     // bytes in use
    uint32_t capacity; // bytes allocated, never below size
    void* handle;
    uint8_t* address;
};

// Allocates a zero-filled block of size bytes (256 when size is 0). A failed
// allocation is retried a few times with a short pause, then reported: a
// garbage size read under a mistyped password must not hang the program.
// Returns 1, or 0 with the block left empty.
int MemBlockAlloc(MemBlock* block, uint32_t size);

// Makes the logical size `size`; moves the contents into a larger block when
// the capacity is too small (never shrinks). Returns 0, with the block
// unchanged, when the larger block cannot be had.
int MemBlockResize(MemBlock* block, uint32_t size);

// Releases the block; it is empty afterwards. Freeing an empty block is allowed.
int MemBlockFree(MemBlock* block);

// Wraps memory from the same allocator that the caller allocated itself, so
// the decompressor can hand it back through MemBlockFree. Windows: an
// already-locked HGLOBAL; elsewhere: an address from malloc.
void MemBlockAdopt(MemBlock* block, void* handle, uint8_t* address, uint32_t size,
                   uint32_t capacity);

#endif
