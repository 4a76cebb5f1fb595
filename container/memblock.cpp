// The allocation seam: the only place in the portable core that knows which
// platform it runs on.
#include "memblock.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

enum { kAllocAttempts = 3, kAllocPauseMs = 100 };

static int AllocOnce(uint32_t bytes, void** handle, uint8_t** address, uint32_t* capacity)
{
#ifdef _WIN32
    // GMEM_MOVEABLE | GMEM_NOCOMPACT | GMEM_NODISCARD | GMEM_ZEROINIT | GMEM_NOT_BANKED
    HGLOBAL h = GlobalAlloc(0x1072, bytes);
    if (!h) return 0;
    if (GlobalSize(h) < bytes) {
        GlobalFree(h);
        return 0;
    }
    void* p = GlobalLock(h);
    if (!p) {
        GlobalFree(h);
        return 0;
    }
    *handle = h;
    *address = static_cast<uint8_t*>(p);
#else
    void* p = std::calloc(bytes, 1);
    if (!p) return 0;
    *handle = p;
    *address = static_cast<uint8_t*>(p);
#endif
    *capacity = bytes;
    return 1;
}

static void Pause()
{
#ifdef _WIN32
    Sleep(kAllocPauseMs);
#endif
}

int MemBlockAlloc(MemBlock* block, uint32_t size)
{
    const uint32_t bytes = size ? size : 256;
    for (int attempt = 0; attempt < kAllocAttempts; ++attempt) {
        if (attempt) Pause();
        if (AllocOnce(bytes, &block->handle, &block->address, &block->capacity)) {
            block->size = size;
            return 1;
        }
    }
    block->size = 0;
    block->capacity = 0;
    block->handle = nullptr;
    block->address = nullptr;
    return 0;
}

int MemBlockFree(MemBlock* block)
{
    if (block->handle) {
#ifdef _WIN32
        GlobalUnlock(static_cast<HGLOBAL>(block->handle));
        GlobalFree(static_cast<HGLOBAL>(block->handle));
#else
        std::free(block->handle);
#endif
    }
    block->size = 0;
    block->capacity = 0;
    block->handle = nullptr;
    block->address = nullptr;
    return 1;
}

int MemBlockResize(MemBlock* block, uint32_t size)
{
    if (size <= block->capacity) {
        block->size = size;
        return 1;
    }
    MemBlock grown;
    if (!MemBlockAlloc(&grown, size)) return 0;
    if (block->size) std::memcpy(grown.address, block->address, block->size);
    MemBlockFree(block);
    *block = grown;
    return 1;
}

void MemBlockAdopt(MemBlock* block, void* handle, uint8_t* address, uint32_t size,
                   uint32_t capacity)
{
    block->handle = handle;
    block->address = address;
    block->size = size;
    block->capacity = capacity;
}
