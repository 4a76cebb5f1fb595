// The seven decode steps of the payload cipher spelled out one by one with
// the elementary operations, as a reference for DecipherPayload, which fuses
// some of them.
#ifndef LUMISAFE_TESTS_CIPHER_STEPS_H
#define LUMISAFE_TESTS_CIPHER_STEPS_H

#include <cstdint>

#include "cipher.h"

inline void DecipherStepByStep(uint8_t* b, uint32_t n, const char* k, uint32_t kl)
{
    TransposeColumns(b, n, KeyParameter(k, 1), KeyParameter(k, 3));
    XorWithKey(b + 1, n - 1, k, kl);
    TransposeColumns(b, n, KeyParameter(k, 0), KeyParameter(k, 2));
    UnchainXor(b, n);
    TransposeColumns(b, n, 2, 2);
    XorWithKey(b, n, k, kl);
    TransposeColumns(b, n, 1, b[0]);
}

#endif
