// See lzap_compact.h. The decoder's header is included first under its own
// names; the source then defines its entry points under the Compact ones.
#include "lzap_compact.h"

#define LUMISAFE_COMPACT
#define kLzapMagic kCompactLzapMagic
#define LzapHasHeader CompactLzapHasHeader
#define LzapDecodeBegin CompactLzapDecodeBegin
#define LzapDecodeSome CompactLzapDecodeSome
#define Decompress CompactDecompress
#include "lzap_decode.cpp"
