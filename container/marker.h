// The 256-byte marker block that separates the decoder stub from the payload,
// and the search for it.
#ifndef LUMISAFE_CONTAINER_MARKER_H
#define LUMISAFE_CONTAINER_MARKER_H

#include <cstddef>
#include <cstdint>

enum : uint32_t {
    kMarkerBlockSize = 256,
    kMarkerTextLength = 13,      // "\decode\self\" without its zero byte
    kMarkerOffsetOpenAfter = 16,
    kMarkerOffsetSelfDelete = 18,
    kMarkerOffsetSavePassword = 20,
    kMarkerOffsetEncoderInfo = 22,
    // Reserved bytes 28..31: the payload's exact length (little-endian), so
    // that a signature can follow it; 0, as every older file has it, means
    // "to the end of the file".
    kMarkerOffsetPayloadLength = 28,
    kMarkerOffsetCaption = 32,
    kMarkerCaptionField = 207,   // offsets 32..238
    kMarkerCaptionMaxText = 206, // leaves room for the zero byte at 238
    kMarkerOffsetIntegritySum = 239,
    kIntegrityLanes = 16,
    kDialogCaptionSize = 260,
};

// What the decoder takes from a marker block. The flags keep the stored byte
// as a signed 8-bit value widened to 32 bits, so 0x80..0xFF read negative and
// still count as "yes".
struct MarkerSettings {
    char dialogCaption[kDialogCaptionSize];
    int32_t openAfterDecode;
    int32_t selfDeleteMode;
    int32_t allowSavePassword;
    int32_t showEncoderInfo;
    uint8_t integritySum[kIntegrityLanes];
};

// Writes the marker text into out (at least 14 bytes: 13 characters and the
// zero byte). The text is put together from pieces at run time so that the
// decoder's own image never holds a whole marker that a search could mistake
// for the real block.
void BuildMarkerText(char* out);

// Nonzero when the piece is a marker block: exactly 256 bytes whose first 14
// bytes are the marker text and its zero byte. A shorter piece never matches.
int IsMarkerPiece(const uint8_t* piece, size_t pieceLength, const char* markerText);

// Offset of the first marker block in data, searched in 256-byte pieces from
// offset 0; returns length (the whole buffer read) when there is none.
size_t FindMarkerInBuffer(const uint8_t* data, size_t length);

// Fills settings from a 256-byte marker block. The caption is copied up to its
// zero byte and never past offset 238, so a caption without terminator is cut.
void ReadMarkerSettings(const uint8_t* block, MarkerSettings* settings);

#endif
