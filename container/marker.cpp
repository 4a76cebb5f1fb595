#include "marker.h"

#include <cstring>

void BuildMarkerText(char* out)
{
    // The text is kept in three pieces separated by NULs and joined here, so
    // that the program's own image never holds the marker text in one run.
    static const char kPieces[] = "\\decode\0\\self\0\\";
    size_t n = 0;
    for (size_t i = 0; i + 1 < sizeof kPieces; ++i)
        if (kPieces[i] != 0) out[n++] = kPieces[i];
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
