// The few cryptographic primitives the sealed form needs, supplied by the
// platform: the system's own cryptography in Windows programs (CNG), OpenSSL's
// libcrypto elsewhere. No cipher or hash is written by hand in this project.
#ifndef LUMISAFE_CONTAINER_SEALED_CRYPTO_H
#define LUMISAFE_CONTAINER_SEALED_CRYPTO_H

#include <cstddef>
#include <cstdint>

struct SealedKey; // an AES-256-GCM key, ready to use; defined by the platform

// Derives the 32-byte key with PBKDF2-HMAC-SHA256 and prepares it for
// AES-256-GCM. kSealedOk with *key set, kSealedNoCrypto when the system lacks
// the primitives, kSealedFailed on any other failure. No copy of the derived
// bytes stays behind.
int SealedKeyDerive(const uint8_t* password, uint32_t passwordLength, const uint8_t* salt, uint32_t saltLength,
                    uint32_t iterations, SealedKey** key);

// Decrypts length bytes into out (not overlapping in) and checks the tag:
// kSealedOk, kSealedDamaged when the tag does not match (out must then not be
// used), kSealedFailed when the primitive failed to run.
int SealedKeyDecrypt(SealedKey* key, const uint8_t* nonce, const uint8_t* aad, uint32_t aadLength,
                     const uint8_t* in, size_t length, const uint8_t* tag, uint8_t* out);

// Encrypts length bytes into out and writes the 16-byte tag (encoders only).
int SealedKeyEncrypt(SealedKey* key, const uint8_t* nonce, const uint8_t* aad, uint32_t aadLength,
                     const uint8_t* in, size_t length, uint8_t* out, uint8_t* tag);

// Wipes and releases the key. A null key is allowed.
void SealedKeyDestroy(SealedKey* key);

// SHA-256 of length bytes into digest (32 bytes): kSealedOk, kSealedNoCrypto
// or kSealedFailed.
int SealedSha256(const uint8_t* data, size_t length, uint8_t* digest);

// Fills out with bytes from the system's cryptographic random source
// (encoders only). kSealedOk or kSealedFailed.
int SealedRandom(uint8_t* out, size_t length);

#endif
