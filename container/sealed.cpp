#include "sealed.h"

#include <cstring>

#include "bytes.h"
#include "sealed_crypto.h"

const uint8_t kSealedMagic[4] = {'S', 'E', 'A', 'L'};

uint32_t MarkerForm(const uint8_t* block)
{
    return block[kMarkerOffsetForm];
}

int ParseSealedHeader(const uint8_t* payload, size_t length, SealedHeader* header)
{
    if (length < 8 || std::memcmp(payload, kSealedMagic, 4) != 0) return kSealedDamaged;
    header->version = payload[4];
    header->kdf = payload[5];
    // The version and the key derivation decide how the rest reads: a reader
    // that does not know them must say so, not guess "wrong password".
    if (header->version != kSealedVersion || header->kdf != kSealedKdfPbkdf2Sha256) return kSealedNewer;
    if (length < kSealedHeaderSize) return kSealedDamaged;
    header->chunkShift = payload[6];
    header->iterations = LoadLE32(payload + 8);
    header->codec = payload[kSealedOffsetCodec];
    header->level = payload[kSealedOffsetLevel];
    // The reserved byte is not tested here: it is associated data, so a
    // changed one fails a tag like any other change.
    if (header->chunkShift < kSealedMinChunkShift || header->chunkShift > kSealedMaxChunkShift ||
        header->iterations == 0)
        return kSealedDamaged;
    // More rounds than this version would ever write: a later version's
    // setting, or a crafted file that would keep every attempt busy for
    // minutes. Refused before any key derivation.
    if (header->iterations > kSealedMaxIterations) return kSealedNewer;
    // A codec this reader cannot expand: said before the password is asked
    // for nothing.
    if (header->codec > kSealedCodecZstd) return kSealedNewer;
    std::memcpy(header->salt, payload + 12, kSealedSaltSize);
    std::memcpy(header->noncePrefix, payload + 28, kSealedNoncePrefixSize);
    return kSealedOk;
}

void SealedNonce(const uint8_t* prefix, uint32_t index, uint8_t flag, uint8_t* nonce)
{
    std::memcpy(nonce, prefix, kSealedNoncePrefixSize);
    nonce[7] = static_cast<uint8_t>(index >> 24);
    nonce[8] = static_cast<uint8_t>(index >> 16);
    nonce[9] = static_cast<uint8_t>(index >> 8);
    nonce[10] = static_cast<uint8_t>(index);
    nonce[11] = flag;
}

void SealedMarkerAad(const uint8_t* marker, uint8_t* aad)
{
    std::memcpy(aad, marker, kMarkerOffsetIntegritySum);
    aad[kMarkerOffsetIntegritySum] = marker[kMarkerBlockSize - 1];
}

int SealedChunks(size_t payloadLength, uint32_t chunkShift, uint32_t* count, size_t* plainLength)
{
    if (payloadLength <= kSealedHeaderSize) return 0;
    const size_t body = payloadLength - kSealedHeaderSize;
    const size_t chunk = static_cast<size_t>(1) << chunkShift;
    const size_t stored = chunk + kSealedTagSize;
    const size_t full = (body - 1) / stored; // chunks before the last
    const size_t last = body - full * stored;
    // The last chunk holds at least one byte: a record is never empty.
    if (last <= kSealedTagSize || full >= 0xFFFFFFFFu) return 0;
    *count = static_cast<uint32_t>(full + 1);
    *plainLength = full * chunk + (last - kSealedTagSize);
    return 1;
}

// Opens one sealed block, a check block or a chunk of n bytes followed by
// its tag, into out.
static int OpenBlock(SealedKey* key, const uint8_t* prefix, uint32_t index, uint8_t flag, const uint8_t* aad,
                     uint32_t aadLength, const uint8_t* in, size_t n, uint8_t* out)
{
    uint8_t nonce[kSealedNonceSize];
    SealedNonce(prefix, index, flag, nonce);
    return SealedKeyDecrypt(key, nonce, aad, aadLength, in, n, in + n, out);
}

// Decrypts every chunk into scratch, checks its tag, and only then moves the
// plaintext down into place: chunk i's plaintext lands before its ciphertext.
static int OpenChunks(SealedKey* key, uint8_t* payload, const SealedHeader* h, const uint8_t* aad, uint32_t count,
                      size_t plainLength, uint8_t* scratch, SealedProgress progress)
{
    const size_t chunk = static_cast<size_t>(1) << h->chunkShift;
    size_t from = kSealedHeaderSize, to = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const int last = i + 1 == count;
        const size_t n = last ? plainLength - to : chunk;
        const int rc = OpenBlock(key, h->noncePrefix, i, static_cast<uint8_t>(last), aad, kSealedChunkAadSize,
                                 payload + from, n, scratch);
        if (rc != kSealedOk) return rc;
        std::memmove(payload + to, scratch, n);
        from += n + kSealedTagSize;
        to += n;
        if (progress) progress(to, plainLength);
    }
    SecureWipe(scratch, chunk);
    return kSealedOk;
}

int OpenSealedPayload(uint8_t* payload, size_t length, const uint8_t* marker, const uint8_t* password,
                      uint32_t passwordLength, uint8_t* scratch, size_t scratchCapacity, size_t* plainLength)
{
    return OpenSealedPayloadWatched(payload, length, marker, password, passwordLength, scratch, scratchCapacity,
                                    plainLength, nullptr);
}

int OpenSealedPayloadWatched(uint8_t* payload, size_t length, const uint8_t* marker, const uint8_t* password,
                             uint32_t passwordLength, uint8_t* scratch, size_t scratchCapacity, size_t* plainLength,
                             SealedProgress progress)
{
    SealedHeader h;
    int rc = ParseSealedHeader(payload, length, &h);
    if (rc != kSealedOk) return rc;
    uint32_t count = 0;
    if (!SealedChunks(length, h.chunkShift, &count, plainLength)) return kSealedDamaged;
    if (scratchCapacity < (static_cast<size_t>(1) << h.chunkShift)) return kSealedFailed;

    SealedKey* key = nullptr;
    rc = SealedKeyDerive(password, passwordLength, h.salt, kSealedSaltSize, h.iterations, &key);
    if (rc != kSealedOk) return rc;
    // Checks in this order: the password, then the marker block, then the
    // chunks, so each failure is told for what it is. The check blocks seal
    // zeros: their tags alone prove the key and the associated data.
    uint8_t aad[kSealedChunkAadSize];
    SealedMarkerAad(marker, aad);
    rc = OpenBlock(key, h.noncePrefix, 0, kSealedCheckFlagPassword, payload, 36, payload + 36, kSealedCheckPlainSize,
                   scratch);
    if (rc == kSealedDamaged) rc = kSealedWrongPassword;
    if (rc == kSealedOk) {
        rc = OpenBlock(key, h.noncePrefix, 0, kSealedCheckFlagMarker, aad, kSealedMarkerAadSize, payload + 68,
                       kSealedCheckPlainSize, scratch);
        if (rc == kSealedDamaged) rc = kSealedTampered;
    }
    if (rc == kSealedOk) {
        std::memcpy(aad + kSealedMarkerAadSize, payload, kSealedHeaderSize);
        rc = OpenChunks(key, payload, &h, aad, count, *plainLength, scratch, progress);
    }
    SealedKeyDestroy(key);
    return rc;
}
