/* zstd's decoder refers to XXH64 only to check a frame's own checksum (and
   for sets of dictionaries, which nothing here uses). The stub's frames carry
   no checksum, and its decoder is told to ignore one (every chunk's tag
   already proves the bytes), so these are never called: linking them in
   place of zstd's xxhash.c keeps 4.6 KiB of hashing code out of the stub.
   Names and calling convention are those zstd's sources expect. */
#include <stddef.h>
#include <stdint.h>

int ZSTD_XXH64_reset(void* state, uint64_t seed)
{
    (void)state;
    (void)seed;
    return 0;
}

int ZSTD_XXH64_update(void* state, const void* input, size_t length)
{
    (void)state;
    (void)input;
    (void)length;
    return 0;
}

uint64_t ZSTD_XXH64_digest(const void* state)
{
    (void)state;
    return 0;
}

uint64_t ZSTD_XXH64(const void* input, size_t length, uint64_t seed)
{
    (void)input;
    (void)length;
    (void)seed;
    return 0;
}
