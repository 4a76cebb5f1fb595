// The decode work of one attempt, with no window in it: the self-decoding
// file's payload is read, opened in its form under the password and expanded
// into the record; then the record's contents are written out as a file. One
// road for every form: marker block -> form -> key -> record -> file. The
// password dialog calls these and turns their results into messages.
#ifndef LUMISAFE_DECODE_DECODE_FILE_H
#define LUMISAFE_DECODE_DECODE_FILE_H

#include <cstdint>

#include "memblock.h"
#include "record.h"
#include "sealed.h"

// The first values are those of SealedStatus, so a sealed result passes as it is.
enum DecodeStatus {
    kDecodeOk = kSealedOk,
    kDecodeWrongPassword = kSealedWrongPassword,
    kDecodeTampered = kSealedTampered, // sealed: the caption or the flags were changed
    kDecodeDamaged = kSealedDamaged,   // sealed: cut short or changed, with the right password
    kDecodeNewer = kSealedNewer,       // an unknown form, format version or key derivation
    kDecodeNoCrypto = kSealedNoCrypto, // sealed: the system lacks the cryptography
    kDecodeNoFileSize,                 // the file cannot be opened to learn its size
    kDecodeCannotOpen,
    kDecodeCannotRead,                 // a read failed, or the file was cut short since it was started
    kDecodeNoMemory,
    kDecodeNoMemoryLock,
    kDecodeCannotCreate,
    kDecodeCannotWrite,
};

// Reads the payload of selfDecodingPath and opens it under the password (its
// bytes in the ANSI code page) into block, and reads the record's header into
// *header: the contents are expanded only while they are written. kDecodeOk,
// or a failure with everything released. The classic form
// turns the password into its key string in place, so the buffer holds
// capacity >= passwordLength + kKeyStringSlack bytes; the caller wipes it.
// showProgress (may be null) is told how far the work has come, 0 to 100,
// between the pieces of a long read and of the tag checks.
int DecodeRecord(char* password, uint32_t passwordLength, uint32_t capacity, MemBlock* block, RecordHeader* header,
                 void (*showProgress)(uint32_t percent));

// Writes the record's contents (expanding them window by window, with
// showProgress, which may be null, told 0 to 100 between windows) to a new file
// beside path, flushed and with the stored times, then puts it in path's
// place in one step and applies the attributes. Until that step the file at
// path (which may be the self-decoding file itself) is untouched; a failure
// leaves nothing partial behind. kDecodeOk, kDecodeCannotCreate,
// kDecodeCannotWrite, or kDecodeDamaged when the contents prove damaged.
// Called once per DecodeRecord.
int WriteDecodedFile(const char* path, const RecordHeader* header, const MemBlock* block,
                     void (*showProgress)(uint32_t percent));

// The id a sealed file's saved password is kept under: the first id bytes of
// the SHA-256 of the salt in its payload's header. kFileIdSealed with id
// filled, kFileIdClassic for a classic file, or kFileIdUnknown for a sealed
// file whose header cannot be read or hashed.
enum { kFileIdClassic, kFileIdSealed, kFileIdUnknown, kFileIdBytes = 16 };
int SealedFileId(uint8_t* id);

// Releases what DecodeRecord holds: the payload and the expansion window.
void DecodeRelease(MemBlock* block);

// Nonzero only when both paths are known to name two different files (by
// volume serial and file index, which every spelling of a file shares).
int DifferentFiles(const char* a, const char* b);

#endif
