// The sealed form's primitives from OpenSSL's libcrypto.
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>

#include "sealed.h"
#include "sealed_crypto.h"

struct SealedKey {
    uint8_t bytes[kSealedKeySize];
    EVP_CIPHER_CTX* context;
};

int SealedKeyDerive(const uint8_t* password, uint32_t passwordLength, const uint8_t* salt, uint32_t saltLength,
                    uint32_t iterations, SealedKey** key)
{
    if (passwordLength > INT_MAX || saltLength > INT_MAX || iterations > INT_MAX) return kSealedFailed;
    SealedKey* k = new SealedKey();
    k->context = EVP_CIPHER_CTX_new();
    // An empty password is a valid PBKDF2 input; OpenSSL wants a non-null pointer for it.
    static const char empty = 0;
    const char* pw = passwordLength ? reinterpret_cast<const char*>(password) : &empty;
    if (!k->context || PKCS5_PBKDF2_HMAC(pw, static_cast<int>(passwordLength), salt, static_cast<int>(saltLength),
                                         static_cast<int>(iterations), EVP_sha256(), kSealedKeySize,
                                         k->bytes) != 1) {
        SealedKeyDestroy(k);
        return kSealedFailed;
    }
    *key = k;
    return kSealedOk;
}

// One GCM operation: key and nonce, the associated data, then the data.
static int Run(SealedKey* key, int encrypt, const uint8_t* nonce, const uint8_t* aad, uint32_t aadLength,
               const uint8_t* in, size_t length, uint8_t* out, uint8_t* tag)
{
    EVP_CIPHER_CTX* c = key->context;
    int n = 0;
    if (length > INT_MAX || aadLength > INT_MAX) return kSealedFailed;
    if (EVP_CipherInit_ex(c, EVP_aes_256_gcm(), nullptr, nullptr, nullptr, encrypt) != 1 ||
        EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_SET_IVLEN, kSealedNonceSize, nullptr) != 1 ||
        EVP_CipherInit_ex(c, nullptr, nullptr, key->bytes, nonce, encrypt) != 1 ||
        (aadLength && EVP_CipherUpdate(c, nullptr, &n, aad, static_cast<int>(aadLength)) != 1) ||
        (length && EVP_CipherUpdate(c, out, &n, in, static_cast<int>(length)) != 1))
        return kSealedFailed;
    if (!encrypt && EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_SET_TAG, kSealedTagSize, tag) != 1) return kSealedFailed;
    if (EVP_CipherFinal_ex(c, out + length, &n) != 1) return encrypt ? kSealedFailed : kSealedDamaged;
    if (encrypt && EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_GET_TAG, kSealedTagSize, tag) != 1) return kSealedFailed;
    return kSealedOk;
}

int SealedKeyDecrypt(SealedKey* key, const uint8_t* nonce, const uint8_t* aad, uint32_t aadLength,
                     const uint8_t* in, size_t length, const uint8_t* tag, uint8_t* out)
{
    return Run(key, 0, nonce, aad, aadLength, in, length, out, const_cast<uint8_t*>(tag));
}

int SealedKeyEncrypt(SealedKey* key, const uint8_t* nonce, const uint8_t* aad, uint32_t aadLength,
                     const uint8_t* in, size_t length, uint8_t* out, uint8_t* tag)
{
    return Run(key, 1, nonce, aad, aadLength, in, length, out, tag);
}

void SealedKeyDestroy(SealedKey* key)
{
    if (!key) return;
    if (key->context) EVP_CIPHER_CTX_free(key->context); // wipes its key schedule
    OPENSSL_cleanse(key->bytes, sizeof key->bytes);
    delete key;
}

int SealedRandom(uint8_t* out, size_t length)
{
    return length <= INT_MAX && RAND_bytes(out, static_cast<int>(length)) == 1 ? kSealedOk : kSealedFailed;
}

int SealedSha256(const uint8_t* data, size_t length, uint8_t* digest)
{
    unsigned int n = 0;
    return EVP_Digest(data, length, digest, &n, EVP_sha256(), nullptr) == 1 && n == 32 ? kSealedOk : kSealedFailed;
}
