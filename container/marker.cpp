#include "marker.h"

#include <cstring>

void BuildMarkerText(char* out)
{
    // Three pieces, copied one after the other; the volatile pointer keeps the
    // compiler from folding them into one literal in the image.
    static const char* const volatile pieces[3] = {"\\decode", "\\self", "\\"};
    size_t n = 0;
    for (int i = 0; i < 3; ++i) {
        const char* p = pieces[i];
        while (*p) out[n++] = *p++;
    }
    out[n] = 0;
}

int IsMarkerPiece(const uint8_t* piece, size_t pieceLength, const char* markerText)
{
    if (pieceLength != kMarkerBlockSize) return 0;
    return std::memcmp(piece, markerText, kMarkerTextLength + 1) == 0;
}

size_t FindMarkerInBuffer(const uint8_t* data, size_t length)
{
    char marker[kMarkerTextLength + 1];
    BuildMarkerText(marker);
    size_t offset = 0;
    while (length - offset >= kMarkerBlockSize) {
        if (IsMarkerPiece(data + offset, kMarkerBlockSize, marker)) return offset;
        offset += kMarkerBlockSize;
    }
    return length;
}

static int32_t SignWiden(uint8_t b)
{
    return static_cast<int32_t>(static_cast<int8_t>(b));
}

void ReadMarkerSettings(const uint8_t* block, MarkerSettings* settings)
{
    size_t i = 0;
    const uint8_t* caption = block + kMarkerOffsetCaption;
    while (i < kMarkerCaptionField && caption[i] != 0) {
        settings->dialogCaption[i] = static_cast<char>(caption[i]);
        ++i;
    }
    settings->dialogCaption[i] = 0;
    settings->openAfterDecode = SignWiden(block[kMarkerOffsetOpenAfter]);
    settings->selfDeleteMode = SignWiden(block[kMarkerOffsetSelfDelete]);
    settings->allowSavePassword = SignWiden(block[kMarkerOffsetSavePassword]);
    settings->showEncoderInfo = SignWiden(block[kMarkerOffsetEncoderInfo]);
    std::memcpy(settings->integritySum, block + kMarkerOffsetIntegritySum, kIntegrityLanes);
}
