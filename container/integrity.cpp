#include "integrity.h"

#include <cstring>

// Summing a byte at a time into 16 lanes is bound by the dependency on each
// lane. Instead, bytes of the same lane are added as 64-bit words holding
// eight 8-bit lanes ("SIMD within a register"): the per-byte sums are kept in
// 16-bit fields so nothing carries between lanes, and the fields are folded
// into the 8-bit lanes before they could overflow.
#ifndef LUMISAFE_COMPACT
static void AddGroupsWide(uint8_t* lanes, const uint8_t* p, size_t groups)
{
    const uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
    while (groups > 0) {
        // 16-bit fields hold at most 255 per addition: 256 groups cannot overflow.
        size_t batch = groups < 256 ? groups : 256;
        groups -= batch;
        uint64_t acc[4] = {0, 0, 0, 0};
        for (size_t g = 0; g < batch; ++g, p += 16) {
            uint64_t w0, w1;
            std::memcpy(&w0, p, 8);
            std::memcpy(&w1, p + 8, 8);
            acc[0] += w0 & kLowBytes;
            acc[1] += (w0 >> 8) & kLowBytes;
            acc[2] += w1 & kLowBytes;
            acc[3] += (w1 >> 8) & kLowBytes;
        }
        // The words were loaded in host byte order; on a little-endian host
        // byte k of a word is lane k. Fold each 16-bit field back modulo 256.
        for (size_t half = 0; half < 2; ++half) {
            for (size_t k = 0; k < 4; ++k) {
                const size_t lo = half * 8 + 2 * k;
                lanes[lo] = static_cast<uint8_t>(lanes[lo] + (acc[2 * half] >> (16 * k)));
                lanes[lo + 1] = static_cast<uint8_t>(lanes[lo + 1] + (acc[2 * half + 1] >> (16 * k)));
            }
        }
    }
}

static int HostIsLittleEndian()
{
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}
#endif

void AddIntegrityLanes(uint8_t* lanes, const uint8_t* piece, size_t length)
{
    const size_t groups = length / 16;
#ifndef LUMISAFE_COMPACT
    if (HostIsLittleEndian()) {
        AddGroupsWide(lanes, piece, groups);
        return;
    }
#endif
    // The decoder stub's build (LUMISAFE_COMPACT) takes this plain loop: a
    // fraction of the code, and still far faster than the decompressor.
    for (size_t g = 0; g < groups; ++g)
        for (size_t j = 0; j < 16; ++j)
            lanes[j] = static_cast<uint8_t>(lanes[j] + piece[16 * g + j]);
}

void ComputeIntegritySum(const uint8_t* stub, size_t stubLength, const uint8_t* payload,
                         size_t payloadLength, uint8_t* lanes)
{
    std::memset(lanes, 0, kIntegrityLanes);
    AddIntegrityLanes(lanes, stub, stubLength);
    AddIntegrityLanes(lanes, payload, payloadLength);
}

int IntegritySumsEqual(const uint8_t* a, const uint8_t* b)
{
    return std::memcmp(a, b, kIntegrityLanes) == 0;
}

void SubtractIntegrityBytes(uint8_t* lanes, size_t offset, const uint8_t* bytes, size_t n)
{
    for (size_t i = 0; i < n; ++i) lanes[(offset + i) % 16] = static_cast<uint8_t>(lanes[(offset + i) % 16] - bytes[i]);
}
