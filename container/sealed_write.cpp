#include "sealed_write.h"

#include <cstring>
#include <new>

#include "bytes.h"
#include "sealed.h"
#include "sealed_crypto.h"

size_t SealedPayloadSize(size_t plainLength, uint32_t chunkShift)
{
    const size_t chunk = static_cast<size_t>(1) << chunkShift;
    const size_t count = plainLength == 0 ? 1 : (plainLength + chunk - 1) / chunk;
    return kSealedHeaderSize + plainLength + count * kSealedTagSize;
}

// The header's fixed fields.
static void WriteSealedFields(uint8_t* out, uint32_t iterations, uint32_t chunkShift, const SealedCoding* coding,
                              const uint8_t* salt, const uint8_t* noncePrefix)
{
    std::memset(out, 0, kSealedHeaderSize);
    std::memcpy(out, kSealedMagic, sizeof kSealedMagic);
    out[4] = kSealedVersion;
    out[5] = kSealedKdfPbkdf2Sha256;
    out[6] = static_cast<uint8_t>(chunkShift);
    StoreLE32(out + 8, iterations);
    std::memcpy(out + 12, salt, kSealedSaltSize);
    std::memcpy(out + 28, noncePrefix, kSealedNoncePrefixSize);
    out[kSealedOffsetCodec] = static_cast<uint8_t>(coding->codec);
    out[kSealedOffsetLevel] = static_cast<uint8_t>(coding->level);
}

static int SealCheck(SealedKey* key, const uint8_t* prefix, uint8_t flag, const uint8_t* aad, uint32_t aadLength,
                     uint8_t* block)
{
    static const uint8_t zeros[kSealedCheckPlainSize] = {0};
    uint8_t nonce[kSealedNonceSize];
    SealedNonce(prefix, 0, flag, nonce);
    return SealedKeyEncrypt(key, nonce, aad, aadLength, zeros, kSealedCheckPlainSize, block,
                            block + kSealedCheckPlainSize);
}

// Seals the chunks in place, from the last to the first: chunk i's sealed
// place (after the header and i tags) lies beyond its plaintext, so going
// backwards never overwrites plaintext not yet sealed. Each chunk is
// encrypted into scratch and then moved to its place.
static int SealChunks(SealedKey* key, uint8_t* buffer, size_t plainLength, const uint8_t* prefix,
                      uint32_t chunkShift, const uint8_t* aad, uint8_t* scratch)
{
    const size_t chunk = static_cast<size_t>(1) << chunkShift;
    const size_t count = (plainLength + chunk - 1) / chunk;
    uint8_t nonce[kSealedNonceSize];
    uint8_t tag[kSealedTagSize];
    for (size_t i = count; i-- > 0;) {
        const size_t from = i * chunk;
        const size_t n = i + 1 == count ? plainLength - from : chunk;
        SealedNonce(prefix, static_cast<uint32_t>(i), static_cast<uint8_t>(i + 1 == count ? 1 : 0), nonce);
        const int rc = SealedKeyEncrypt(key, nonce, aad, kSealedChunkAadSize, buffer + from, n, scratch, tag);
        if (rc != kSealedOk) return rc;
        uint8_t* to = buffer + kSealedHeaderSize + i * (chunk + kSealedTagSize);
        std::memmove(to, scratch, n);
        std::memcpy(to + n, tag, kSealedTagSize);
    }
    return kSealedOk;
}

int SealPayload(const uint8_t* plain, size_t plainLength, const uint8_t* marker, const uint8_t* password,
                uint32_t passwordLength, uint32_t iterations, uint32_t chunkShift, uint8_t* out, size_t outCapacity,
                size_t* outLength)
{
    if (outCapacity < plainLength) return kSealedFailed;
    std::memmove(out, plain, plainLength);
    return SealPayloadInPlace(out, plainLength, outCapacity, marker, password, passwordLength, iterations,
                              chunkShift, outLength);
}

int SealPayloadInPlace(uint8_t* buffer, size_t plainLength, size_t capacity, const uint8_t* marker,
                       const uint8_t* password, uint32_t passwordLength, uint32_t iterations, uint32_t chunkShift,
                       size_t* outLength)
{
    const SealedCoding record = {kSealedCodecRecord, 0};
    return SealPayloadInPlaceCoded(buffer, plainLength, capacity, marker, password, passwordLength, iterations,
                                   chunkShift, &record, nullptr, nullptr, outLength);
}

int SealPayloadWith(const uint8_t* plain, size_t plainLength, const uint8_t* marker, const uint8_t* password,
                    uint32_t passwordLength, uint32_t iterations, uint32_t chunkShift, const uint8_t* salt,
                    const uint8_t* noncePrefix, uint8_t* out, size_t outCapacity, size_t* outLength)
{
    if (outCapacity < plainLength) return kSealedFailed;
    std::memmove(out, plain, plainLength);
    return SealPayloadInPlaceWith(out, plainLength, outCapacity, marker, password, passwordLength, iterations,
                                  chunkShift, salt, noncePrefix, outLength);
}

// The header with both check blocks, the chunks sealed in place, then the
// header in front of them.
static int SealWithHeader(SealedKey* key, uint8_t* buffer, size_t plainLength, uint8_t* header,
                          const uint8_t* marker, uint32_t chunkShift, uint8_t* scratch)
{
    const uint8_t* prefix = header + 28;
    uint8_t aad[kSealedChunkAadSize];
    SealedMarkerAad(marker, aad);
    int rc = SealCheck(key, prefix, kSealedCheckFlagPassword, header, 36, header + 36);
    if (rc == kSealedOk) rc = SealCheck(key, prefix, kSealedCheckFlagMarker, aad, kSealedMarkerAadSize, header + 68);
    if (rc != kSealedOk) return rc;
    std::memcpy(aad + kSealedMarkerAadSize, header, kSealedHeaderSize);
    rc = SealChunks(key, buffer, plainLength, prefix, chunkShift, aad, scratch);
    if (rc == kSealedOk) std::memcpy(buffer, header, kSealedHeaderSize);
    return rc;
}

int SealPayloadInPlaceWith(uint8_t* buffer, size_t plainLength, size_t capacity, const uint8_t* marker,
                           const uint8_t* password, uint32_t passwordLength, uint32_t iterations, uint32_t chunkShift,
                           const uint8_t* salt, const uint8_t* noncePrefix, size_t* outLength)
{
    const SealedCoding record = {kSealedCodecRecord, 0};
    return SealPayloadInPlaceCoded(buffer, plainLength, capacity, marker, password, passwordLength, iterations,
                                   chunkShift, &record, salt, noncePrefix, outLength);
}

int SealPayloadInPlaceCoded(uint8_t* buffer, size_t plainLength, size_t capacity, const uint8_t* marker,
                            const uint8_t* password, uint32_t passwordLength, uint32_t iterations,
                            uint32_t chunkShift, const SealedCoding* coding, const uint8_t* salt,
                            const uint8_t* noncePrefix, size_t* outLength)
{
    if (plainLength == 0 || chunkShift < kSealedMinChunkShift || chunkShift > kSealedMaxChunkShift ||
        iterations == 0 || iterations > kSealedMaxIterations || coding->codec > kSealedCodecZstd ||
        coding->level > 255)
        return kSealedFailed;
    const size_t size = SealedPayloadSize(plainLength, chunkShift);
    if (capacity < size) return kSealedFailed;
    // A fresh salt gives every file its own key, so nonces never repeat under one key.
    uint8_t fresh[kSealedSaltSize + kSealedNoncePrefixSize];
    if (!salt) {
        if (SealedRandom(fresh, sizeof fresh) != kSealedOk) return kSealedFailed;
        salt = fresh;
        noncePrefix = fresh + kSealedSaltSize;
    }
    uint8_t header[kSealedHeaderSize];
    WriteSealedFields(header, iterations, chunkShift, coding, salt, noncePrefix);
    // One chunk of scratch, from the heap: up to 1 MiB.
    uint8_t* scratch = new (std::nothrow) uint8_t[static_cast<size_t>(1) << chunkShift];
    if (!scratch) return kSealedFailed;
    SealedKey* key = nullptr;
    int rc = SealedKeyDerive(password, passwordLength, salt, kSealedSaltSize, iterations, &key);
    if (rc == kSealedOk) rc = SealWithHeader(key, buffer, plainLength, header, marker, chunkShift, scratch);
    SealedKeyDestroy(key);
    SecureWipe(scratch, static_cast<size_t>(1) << chunkShift);
    delete[] scratch;
    if (rc == kSealedOk) *outLength = size;
    return rc;
}
