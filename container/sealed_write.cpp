#include "sealed_write.h"

#include <cstring>

#include "sealed.h"
#include "sealed_crypto.h"

size_t SealedPayloadSize(size_t plainLength, uint32_t chunkShift)
{
    const size_t chunk = static_cast<size_t>(1) << chunkShift;
    const size_t count = plainLength == 0 ? 1 : (plainLength + chunk - 1) / chunk;
    return kSealedHeaderSize + plainLength + count * kSealedTagSize;
}

static void WriteLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The header's fixed fields.
static void WriteSealedFields(uint8_t* out, uint32_t iterations, uint32_t chunkShift, const uint8_t* salt,
                              const uint8_t* noncePrefix)
{
    std::memset(out, 0, kSealedHeaderSize);
    static const uint8_t magic[4] = {'S', 'E', 'A', 'L'};
    std::memcpy(out, magic, sizeof magic);
    out[4] = kSealedVersion;
    out[5] = kSealedKdfPbkdf2Sha256;
    out[6] = static_cast<uint8_t>(chunkShift);
    WriteLe32(out + 8, iterations);
    std::memcpy(out + 12, salt, kSealedSaltSize);
    std::memcpy(out + 28, noncePrefix, kSealedNoncePrefixSize);
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

static int SealChunks(SealedKey* key, const uint8_t* plain, size_t plainLength, const uint8_t* prefix,
                      uint32_t chunkShift, const uint8_t* aad, uint8_t* out)
{
    const size_t chunk = static_cast<size_t>(1) << chunkShift;
    uint8_t nonce[kSealedNonceSize];
    size_t from = 0, to = kSealedHeaderSize;
    for (uint32_t i = 0; from < plainLength; ++i) {
        const size_t n = plainLength - from < chunk ? plainLength - from : chunk;
        const int last = from + n == plainLength;
        SealedNonce(prefix, i, static_cast<uint8_t>(last ? 1 : 0), nonce);
        const int rc = SealedKeyEncrypt(key, nonce, aad, kSealedChunkAadSize, plain + from, n, out + to, out + to + n);
        if (rc != kSealedOk) return rc;
        from += n;
        to += n + kSealedTagSize;
    }
    return kSealedOk;
}

int SealPayload(const uint8_t* plain, size_t plainLength, const uint8_t* marker, const uint8_t* password,
                uint32_t passwordLength, uint32_t iterations, uint32_t chunkShift, uint8_t* out, size_t outCapacity,
                size_t* outLength)
{
    // A fresh salt gives every file its own key, so nonces never repeat under one key.
    uint8_t fresh[kSealedSaltSize + kSealedNoncePrefixSize];
    if (SealedRandom(fresh, sizeof fresh) != kSealedOk) return kSealedFailed;
    return SealPayloadWith(plain, plainLength, marker, password, passwordLength, iterations, chunkShift, fresh,
                           fresh + kSealedSaltSize, out, outCapacity, outLength);
}

int SealPayloadWith(const uint8_t* plain, size_t plainLength, const uint8_t* marker, const uint8_t* password,
                    uint32_t passwordLength, uint32_t iterations, uint32_t chunkShift, const uint8_t* salt,
                    const uint8_t* noncePrefix, uint8_t* out, size_t outCapacity, size_t* outLength)
{
    if (plainLength == 0 || chunkShift < kSealedMinChunkShift || chunkShift > kSealedMaxChunkShift ||
        iterations == 0 || iterations > kSealedMaxIterations)
        return kSealedFailed;
    const size_t size = SealedPayloadSize(plainLength, chunkShift);
    if (outCapacity < size) return kSealedFailed;
    WriteSealedFields(out, iterations, chunkShift, salt, noncePrefix);
    const uint8_t* prefix = out + 28;
    SealedKey* key = nullptr;
    int rc = SealedKeyDerive(password, passwordLength, out + 12, kSealedSaltSize, iterations, &key);
    if (rc != kSealedOk) return rc;
    uint8_t aad[kSealedChunkAadSize];
    SealedMarkerAad(marker, aad);
    rc = SealCheck(key, prefix, kSealedCheckFlagPassword, out, 36, out + 36);
    if (rc == kSealedOk) rc = SealCheck(key, prefix, kSealedCheckFlagMarker, aad, kSealedMarkerAadSize, out + 68);
    if (rc == kSealedOk) {
        std::memcpy(aad + kSealedMarkerAadSize, out, kSealedHeaderSize);
        rc = SealChunks(key, plain, plainLength, prefix, chunkShift, aad, out);
    }
    SealedKeyDestroy(key);
    if (rc == kSealedOk) *outLength = size;
    return rc;
}
