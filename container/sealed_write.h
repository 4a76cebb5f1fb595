// Encoder side of the sealed form (layout in sealed.h).
#ifndef LUMISAFE_CONTAINER_SEALED_WRITE_H
#define LUMISAFE_CONTAINER_SEALED_WRITE_H

#include <cstddef>
#include <cstdint>

// Size of the sealed payload that holds plainLength bytes in chunks of
// 2^chunkShift bytes.
size_t SealedPayloadSize(size_t plainLength, uint32_t chunkShift);

// Seals plain (a compressed stream or a stored record, at least one byte)
// into out: a fresh random salt and nonce prefix, the key derived from the
// password, the two check blocks and the chunks. marker is the finished
// marker block (its integrity sum, which depends on the result, is not read).
// Returns kSealedOk with *outLength set, or the failing SealedStatus.
int SealPayload(const uint8_t* plain, size_t plainLength, const uint8_t* marker, const uint8_t* password,
                uint32_t passwordLength, uint32_t iterations, uint32_t chunkShift, uint8_t* out, size_t outCapacity,
                size_t* outLength);

// SealPayload in place: the plaintext stands at buffer[0..plainLength), and
// buffer holds capacity >= SealedPayloadSize(plainLength, chunkShift) bytes,
// so a large payload needs no second copy.
int SealPayloadInPlace(uint8_t* buffer, size_t plainLength, size_t capacity, const uint8_t* marker,
                       const uint8_t* password, uint32_t passwordLength, uint32_t iterations, uint32_t chunkShift,
                       size_t* outLength);

// How the record inside was compressed, written into the header (both
// fields are bound to the password check like the rest of it).
struct SealedCoding {
    uint32_t codec; // kSealedCodecRecord or kSealedCodecZstd
    uint32_t level; // the zstd level, 0 for none
};

// SealPayloadInPlace for a record in the given coding (the functions above
// write kSealedCodecRecord). salt and noncePrefix null: fresh random ones.
int SealPayloadInPlaceCoded(uint8_t* buffer, size_t plainLength, size_t capacity, const uint8_t* marker,
                            const uint8_t* password, uint32_t passwordLength, uint32_t iterations,
                            uint32_t chunkShift, const SealedCoding* coding, const uint8_t* salt,
                            const uint8_t* noncePrefix, size_t* outLength);

// SealPayload with the given salt (16 bytes) and nonce prefix (7 bytes) in
// place of random ones: for known-answer tests and the format's worked
// example only; a real file must never reuse them.
int SealPayloadWith(const uint8_t* plain, size_t plainLength, const uint8_t* marker, const uint8_t* password,
                    uint32_t passwordLength, uint32_t iterations, uint32_t chunkShift, const uint8_t* salt,
                    const uint8_t* noncePrefix, uint8_t* out, size_t outCapacity, size_t* outLength);
int SealPayloadInPlaceWith(uint8_t* buffer, size_t plainLength, size_t capacity, const uint8_t* marker,
                           const uint8_t* password, uint32_t passwordLength, uint32_t iterations, uint32_t chunkShift,
                           const uint8_t* salt, const uint8_t* noncePrefix, size_t* outLength);

#endif
