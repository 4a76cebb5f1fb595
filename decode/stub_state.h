// The decode stage's process-wide settings, filled once from the marker
// block of the self-decoding file when the password dialog starts.
#ifndef LUMISAFE_DECODE_STUB_STATE_H
#define LUMISAFE_DECODE_STUB_STATE_H

#include <cstdint>

enum : uint32_t { kPathSize = 260 };

extern char selfDecodingPath[kPathSize];
extern char dialogCaption[kPathSize];
extern uint32_t payloadOffset;
extern uint8_t markerBlock[256]; // as stored: its form byte, and the sealed form checks it
extern int32_t openAfterDecode;
extern int32_t selfDeleteMode;
extern int32_t allowSavePassword;
extern int32_t showEncoderInfo;

// Offset of the marker block in the file at path, read in 256-byte pieces.
// Returns 1 with *offset set, or 0 when the file cannot be opened or holds
// no marker block.
int FindMarkerOffset(const char* path, uint32_t* offset);

// Fills the settings from selfDecodingPath. The open is retried a few times
// (another process may hold the file for a moment); returns 0 when the file
// cannot be read or has lost its marker block since the launch stage looked.
int ReadMarkerBlock();

#endif
