#include "cipher.h"

// Each decode step undone, in reverse order. Byte 0 is never moved by the
// last decode step, so the plaintext's first byte sets that step's rows on
// both sides.
int EncipherPayload(uint8_t* buffer, uint32_t length, const char* key, uint32_t keyLength)
{
    if (length < 2 || keyLength < 3) return 0;
    const int32_t k0 = KeyParameter(key, 0), k1 = KeyParameter(key, 1);
    const int32_t k2 = KeyParameter(key, 2), k3 = KeyParameter(key, 3);
    UntransposeColumns(buffer, length, 1, buffer[0]);
    XorWithKey(buffer, length, key, keyLength);
    UntransposeColumns(buffer, length, 2, 2);
    ChainXor(buffer, length);
    UntransposeColumns(buffer, length, k0, k2);
    XorWithKey(buffer + 1, length - 1, key, keyLength);
    UntransposeColumns(buffer, length, k1, k3);
    return 1;
}
