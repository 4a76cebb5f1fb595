// What the cleanup stage may delete and the batch text that deletes it:
// plain text rules, free of any platform header, so that they are tested
// natively on a table of hostile names as well as on Windows.
#ifndef LUMISAFE_LAUNCHER_CLEANUP_RULES_H
#define LUMISAFE_LAUNCHER_CLEANUP_RULES_H

#include <cstdint>

// Nonzero when fullPath, already made absolute and normalised by the system
// (no "..", no "/"), names a file directly in tempDir (normalised, ending in
// "\") whose name is prefix, one to four hexadecimal digits and ".exe": the
// form our own temporary copies have. Streams (":"), other folders, device
// names and other names are refused. dbcs: the texts are Shift-JIS, whose
// trail bytes may look like "\" or letters and are compared exactly.
int IsOwnTempPath(const char* fullPath, const char* tempDir, const char* prefix, int dbcs);

// Nonzero when name can stand in a batch file as it is: letters, digits, '.',
// '-' and '_' only, so it can neither end a quotation nor expand anything,
// whatever the code page cmd reads the batch in.
int IsBatchSafeName(const char* name);

// The batch text that deletes target, retrying once a second for up to ten
// minutes while the process that runs from it ends, then deletes the batch
// file itself. Both are plain file names in the batch's current folder and
// must be batch-safe. Returns the text's length, or 0 when a name is not
// safe or the text does not fit out's capacity.
uint32_t FormatDeleteBatch(const char* target, const char* batchName, char* out, uint32_t capacity);

#endif
