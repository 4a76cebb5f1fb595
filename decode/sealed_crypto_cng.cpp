// The sealed form's primitives from Windows' own cryptography (CNG in
// bcrypt.dll). The DLL is loaded by its full path in the system directory,
// and only when a sealed file is opened, so the program starts and decodes
// classic files on systems without it (PBKDF2 in CNG needs Windows 7).
#include <windows.h>

#include <bcrypt.h>

#include <cstring>

#include "sealed.h"
#include "sealed_crypto.h"

// Taken by address from the DLL at run time: nothing of bcrypt is imported.
enum : LONG { kStatusAuthTagMismatch = static_cast<LONG>(0xC000A002) };

// The signatures as bcrypt.h declares them.
typedef decltype(&BCryptOpenAlgorithmProvider) OpenAlgorithmFn;
typedef decltype(&BCryptCloseAlgorithmProvider) CloseAlgorithmFn;
typedef decltype(&BCryptSetProperty) SetPropertyFn;
typedef decltype(&BCryptGenerateSymmetricKey) GenerateKeyFn;
typedef decltype(&BCryptDestroyKey) DestroyKeyFn;
typedef decltype(&BCryptDecrypt) CryptFn;
typedef decltype(&BCryptDeriveKeyPBKDF2) DeriveFn;
typedef decltype(&BCryptGenRandom) RandomFn;
typedef decltype(&BCryptCreateHash) CreateHashFn;
typedef decltype(&BCryptHashData) HashDataFn;
typedef decltype(&BCryptFinishHash) FinishHashFn;
typedef decltype(&BCryptDestroyHash) DestroyHashFn;

// The entry points, looked up once per process, in the order of kEntryNames.
static struct {
    OpenAlgorithmFn open;
    CloseAlgorithmFn close;
    SetPropertyFn setProperty;
    GenerateKeyFn generateKey;
    DestroyKeyFn destroyKey;
    CryptFn encrypt;
    CryptFn decrypt;
    DeriveFn derive;
    RandomFn random;
    CreateHashFn createHash;
    HashDataFn hashData;
    FinishHashFn finishHash;
    DestroyHashFn destroyHash;
} cng;
static int cngState; // 0 not tried, 1 ready, -1 missing

static const char kEntryNames[] = "BCryptOpenAlgorithmProvider\0BCryptCloseAlgorithmProvider\0BCryptSetProperty\0"
                                  "BCryptGenerateSymmetricKey\0BCryptDestroyKey\0BCryptEncrypt\0BCryptDecrypt\0"
                                  "BCryptDeriveKeyPBKDF2\0BCryptGenRandom\0BCryptCreateHash\0BCryptHashData\0"
                                  "BCryptFinishHash\0BCryptDestroyHash\0";

struct SealedKey {
    BCRYPT_ALG_HANDLE aes;
    BCRYPT_KEY_HANDLE key;
};

// Loads bcrypt.dll from the system directory, by its full name: never from
// the folder of the file being decoded. 1 when every entry point is there.
static int LoadCng()
{
    if (cngState) return cngState > 0;
    cngState = -1;
    char path[MAX_PATH];
    const UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n + 12 >= MAX_PATH) return 0;
    lstrcpyA(path + n, "\\bcrypt.dll");
    HMODULE dll = LoadLibraryA(path);
    if (!dll) return 0;
    void** slot = reinterpret_cast<void**>(&cng);
    for (const char* name = kEntryNames; *name; name += strlen(name) + 1) {
        *slot = reinterpret_cast<void*>(GetProcAddress(dll, name));
        if (!*slot++) return 0;
    }
    cngState = 1;
    return 1;
}

// PBKDF2-HMAC-SHA256 into bytes (32). 1, or 0 on failure.
static int DerivePbkdf2(const uint8_t* password, uint32_t passwordLength, const uint8_t* salt, uint32_t saltLength,
                        uint32_t iterations, uint8_t* bytes)
{
    BCRYPT_ALG_HANDLE hmac = nullptr;
    if (cng.open(&hmac, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) < 0) return 0;
    // The caller's password buffer is never null, even for an empty password.
    const LONG rc = cng.derive(hmac, const_cast<UCHAR*>(password), passwordLength,
                               const_cast<UCHAR*>(salt), saltLength, iterations, bytes, kSealedKeySize, 0);
    cng.close(hmac, 0);
    return rc >= 0;
}

int SealedKeyDerive(const uint8_t* password, uint32_t passwordLength, const uint8_t* salt, uint32_t saltLength,
                    uint32_t iterations, SealedKey** key)
{
    if (!LoadCng()) return kSealedNoCrypto;
    // One key at a time is all a program here needs: no allocation.
    static SealedKey one;
    SealedKey* k = &one;
    uint8_t bytes[kSealedKeySize];
    int ok = DerivePbkdf2(password, passwordLength, salt, saltLength, iterations, bytes) &&
             cng.open(&k->aes, BCRYPT_AES_ALGORITHM, nullptr, 0) >= 0;
    static const wchar_t gcm[] = BCRYPT_CHAIN_MODE_GCM;
    ok = ok &&
         cng.setProperty(k->aes, BCRYPT_CHAINING_MODE, reinterpret_cast<UCHAR*>(const_cast<wchar_t*>(gcm)),
                         sizeof gcm, 0) >= 0 &&
         cng.generateKey(k->aes, &k->key, nullptr, 0, bytes, kSealedKeySize, 0) >= 0;
    SecureWipe(bytes, sizeof bytes);
    if (!ok) {
        SealedKeyDestroy(k);
        return kSealedFailed;
    }
    *key = k;
    return kSealedOk;
}

static void FillBCRYPT_AUTHENTICATED_CIPHER_MODE_INFO(BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO* info, const uint8_t* nonce, const uint8_t* aad, uint32_t aadLength, uint8_t* tag)
{
    BCRYPT_INIT_AUTH_MODE_INFO(*info);
    info->pbNonce = const_cast<UCHAR*>(nonce);
    info->cbNonce = kSealedNonceSize;
    info->pbAuthData = const_cast<UCHAR*>(aad);
    info->cbAuthData = aadLength;
    info->pbTag = tag;
    info->cbTag = kSealedTagSize;
}

int SealedKeyDecrypt(SealedKey* key, const uint8_t* nonce, const uint8_t* aad, uint32_t aadLength,
                     const uint8_t* in, size_t length, const uint8_t* tag, uint8_t* out)
{
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    FillBCRYPT_AUTHENTICATED_CIPHER_MODE_INFO(&info, nonce, aad, aadLength, const_cast<uint8_t*>(tag));
    ULONG done = 0;
    const LONG rc = cng.decrypt(key->key, const_cast<UCHAR*>(in), static_cast<ULONG>(length), &info, nullptr, 0, out,
                                static_cast<ULONG>(length), &done, 0);
    if (rc == kStatusAuthTagMismatch) return kSealedDamaged;
    return rc >= 0 && done == length ? kSealedOk : kSealedFailed;
}

int SealedKeyEncrypt(SealedKey* key, const uint8_t* nonce, const uint8_t* aad, uint32_t aadLength,
                     const uint8_t* in, size_t length, uint8_t* out, uint8_t* tag)
{
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    FillBCRYPT_AUTHENTICATED_CIPHER_MODE_INFO(&info, nonce, aad, aadLength, tag);
    ULONG done = 0;
    const LONG rc = cng.encrypt(key->key, const_cast<UCHAR*>(in), static_cast<ULONG>(length), &info, nullptr, 0, out,
                                static_cast<ULONG>(length), &done, 0);
    return rc >= 0 && done == length ? kSealedOk : kSealedFailed;
}

void SealedKeyDestroy(SealedKey* key)
{
    if (!key) return;
    // Destroying the key object wipes its key schedule.
    if (key->key) cng.destroyKey(key->key);
    if (key->aes) cng.close(key->aes, 0);
    key->key = nullptr;
    key->aes = nullptr;
}

int SealedRandom(uint8_t* out, size_t length)
{
    if (!LoadCng()) return kSealedNoCrypto;
    return cng.random(nullptr, out, static_cast<ULONG>(length), BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0 ? kSealedOk : kSealedFailed;
}

int SealedSha256(const uint8_t* data, size_t length, uint8_t* digest)
{
    if (!LoadCng()) return kSealedNoCrypto;
    BCRYPT_ALG_HANDLE sha = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    // The hash object's memory is the provider's own (Windows 7 and later).
    int ok = cng.open(&sha, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 &&
             cng.createHash(sha, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
    // Fed in pieces a ULONG can count.
    while (ok && length > 0) {
        const ULONG n = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
        ok = cng.hashData(hash, const_cast<UCHAR*>(data), n, 0) >= 0;
        data += n;
        length -= n;
    }
    ok = ok && cng.finishHash(hash, digest, 32, 0) >= 0;
    if (hash) cng.destroyHash(hash);
    if (sha) cng.close(sha, 0);
    return ok ? kSealedOk : kSealedFailed;
}
