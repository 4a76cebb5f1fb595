// The decoder as the stub builds it (LUMISAFE_COMPACT: no literal table, no
// chain linking, path entries moved one by one), compiled under other names
// beside the tool's build of the same source, so that a fuzz target can hold
// the two against each other.
#ifndef LUMISAFE_FUZZ_LZAP_COMPACT_H
#define LUMISAFE_FUZZ_LZAP_COMPACT_H

#include "lzap.h"

int CompactLzapDecodeBegin(LzapDecoder* d, const uint8_t* stream, uint32_t size);
uint32_t CompactLzapDecodeSome(LzapDecoder* d, uint8_t* out, uint32_t capacity);

#endif
