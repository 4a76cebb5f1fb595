// Turning a stored file name, which the self-decoding file's author chose,
// into one safe file name on this machine.
#ifndef LUMISAFE_TOOLS_NAMES_H
#define LUMISAFE_TOOLS_NAMES_H

#include <string>

// The last path component of the stored name (Shift-JIS aware), converted to
// UTF-8 (from `codepage`, or guessed when it is kCodepageAuto), with
// separators, drive colons, control characters and characters that Windows
// forbids replaced by '_', trailing dots and blanks removed, reserved device
// names prefixed, and cut to 255 bytes. Never empty, ".", ".." or a path:
// such names become "decoded.bin".
std::string SafeOutputName(const std::string& stored, int codepage);

#endif
