// The sealed payload form: the record (compressed stream or stored form) in
// chunks encrypted with AES-256-GCM under a key derived from the password by
// PBKDF2-HMAC-SHA256, behind a small versioned header. The marker block's
// form byte tells it from the classic form (0). The cryptography itself is
// the platform's (sealed_crypto.h); this file holds the layout and the one
// order of checks that every reader follows.
//
// Layout, all numbers little-endian:
//   header (100 bytes)
//     0   4  magic "SEAL"
//     4   1  form version (1)
//     5   1  key derivation (1: PBKDF2-HMAC-SHA256)
//     6   1  chunk shift s: every chunk but the last holds 2^s plaintext bytes
//     7   1  codec: 0 the record as the classic form holds it (an LZAP
//            stream or the stored record, told apart by the stream's magic),
//            1 one zstd frame of the record (zstd_frame.h)
//     8   4  iteration count
//    12  16  salt
//    28   7  nonce prefix
//    35   1  the compression level the writer used (zstd), for the user to
//            read; 0 when none. Readers do not depend on it.
//    36  32  password check: 16 zero bytes sealed under nonce (prefix, 0, 0x80)
//            with the header's first 36 bytes as associated data
//    68  32  marker check: 16 zero bytes sealed under nonce (prefix, 0, 0x81)
//            with the marker block less its integrity sum as associated data
//   chunks: ciphertext, then its 16-byte tag, under nonce (prefix, index, 0),
//           the last one (prefix, index, 1); associated data: the marker block
//           less its integrity sum, then the whole header.
// A nonce is the prefix, the 32-bit index big-endian, and one flag byte.
#ifndef LUMISAFE_CONTAINER_SEALED_H
#define LUMISAFE_CONTAINER_SEALED_H

#include <cstddef>
#include <cstdint>

#include "bytes.h"
#include "marker.h"

enum : uint32_t {
    kMarkerOffsetForm = 24, // a reserved byte of the marker block: 0 classic, 1 sealed
    kFormClassic = 0,
    kFormSealed = 1,

    kSealedHeaderSize = 100,
    kSealedVersion = 1,
    kSealedKdfPbkdf2Sha256 = 1,
    kSealedSaltSize = 16,
    kSealedNoncePrefixSize = 7,
    kSealedNonceSize = 12,
    kSealedTagSize = 16,
    kSealedKeySize = 32,
    kSealedCheckPlainSize = 16,
    kSealedMinChunkShift = 12,
    kSealedMaxChunkShift = 20,
    kSealedDefaultChunkShift = 16,
    kSealedDefaultIterations = 1000000, // about 0.2 s on one core of the machines here
    // A reader refuses more (a few seconds here): a crafted count must not
    // keep every attempt busy for minutes.
    kSealedMaxIterations = 10 * kSealedDefaultIterations,
    kSealedMarkerAadSize = 240, // marker bytes 0..238 and 255
    kSealedChunkAadSize = kSealedMarkerAadSize + kSealedHeaderSize,
    kSealedCheckFlagPassword = 0x80,
    kSealedCheckFlagMarker = 0x81,
    kSealedOffsetCodec = 7,
    kSealedOffsetLevel = 35,
    kSealedCodecRecord = 0, // an LZAP stream or the stored record
    kSealedCodecZstd = 1,   // one zstd frame of the record
};

enum SealedStatus : int {
    kSealedFailed = 0,        // the cryptography failed to run (out of memory, a system error)
    kSealedOk = 1,
    kSealedWrongPassword = 2, // the password check does not open
    kSealedTampered = 3,      // the password is right, the caption or flags were changed
    kSealedDamaged = 4,       // cut short, a chunk's tag fails, or the header is malformed
    kSealedNewer = 5,         // an unknown form version, key derivation or codec
    kSealedNoCrypto = 6,      // the system has no usable AES-GCM or PBKDF2
};

extern const uint8_t kSealedMagic[4]; // "SEAL"

struct SealedHeader {
    uint32_t version;
    uint32_t kdf;
    uint32_t chunkShift;
    uint32_t iterations;
    uint32_t codec; // kSealedCodecRecord or kSealedCodecZstd
    uint32_t level; // as the writer says; 0 when it did not
    uint8_t salt[kSealedSaltSize];
    uint8_t noncePrefix[kSealedNoncePrefixSize];
};

// The form byte of a marker block.
uint32_t MarkerForm(const uint8_t* block);

// Reads and checks the header at the start of a sealed payload of length
// bytes: kSealedOk, kSealedNewer (version, key derivation or codec unknown,
// or more key-derivation rounds than kSealedMaxIterations) or kSealedDamaged (too
// short, wrong magic, a field out of range).
int ParseSealedHeader(const uint8_t* payload, size_t length, SealedHeader* header);

// The nonce for one chunk or check block.
void SealedNonce(const uint8_t* prefix, uint32_t index, uint8_t flag, uint8_t* nonce);

// The marker block less its integrity sum (kSealedMarkerAadSize bytes).
void SealedMarkerAad(const uint8_t* marker, uint8_t* aad);

// Chunk geometry of a sealed payload of payloadLength bytes: the number of
// chunks and the plaintext length. 0 when no whole chunk structure fits
// (cut short), which every reader reports as damage.
int SealedChunks(size_t payloadLength, uint32_t chunkShift, uint32_t* count, size_t* plainLength);

// Opens a sealed payload in place: derives the key, tests the password check,
// then the marker check, then every chunk's tag, and leaves the plaintext
// (plainLength bytes) at the start of payload. scratch holds one chunk
// (2^kSealedMaxChunkShift bytes suffice). Nothing of the plaintext is usable
// unless kSealedOk is returned; on any other result the payload is left
// partly overwritten. The key is wiped before return.
int OpenSealedPayload(uint8_t* payload, size_t length, const uint8_t* marker, const uint8_t* password,
                      uint32_t passwordLength, uint8_t* scratch, size_t scratchCapacity, size_t* plainLength);

// OpenSealedPayload that reports, after each chunk, how many plaintext bytes
// of how many have been checked: a large file takes seconds.
typedef void (*SealedProgress)(size_t done, size_t total);
int OpenSealedPayloadWatched(uint8_t* payload, size_t length, const uint8_t* marker, const uint8_t* password,
                             uint32_t passwordLength, uint8_t* scratch, size_t scratchCapacity, size_t* plainLength,
                             SealedProgress progress);

#endif
