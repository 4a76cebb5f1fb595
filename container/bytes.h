// Little-endian field access for the on-disk structures. Every stored number
// in a self-decoding file is little-endian whatever the host is.
#ifndef LUMISAFE_CONTAINER_BYTES_H
#define LUMISAFE_CONTAINER_BYTES_H

#include <cstddef>
#include <cstdint>

inline uint32_t LoadLE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t LoadLE64(const uint8_t* p)
{
    return static_cast<uint64_t>(LoadLE32(p)) | (static_cast<uint64_t>(LoadLE32(p + 4)) << 32);
}

inline void StoreLE32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void StoreLE64(uint8_t* p, uint64_t v)
{
    StoreLE32(p, static_cast<uint32_t>(v));
    StoreLE32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Overwrites memory in a way the compiler may not drop: for keys, passwords
// and anything derived from them.
inline void SecureWipe(void* p, size_t n)
{
    volatile uint8_t* q = static_cast<volatile uint8_t*>(p);
    while (n--) *q++ = 0;
}

#endif
