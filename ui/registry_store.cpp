#include "registry_store.h"

#include <windows.h>

#include <wincrypt.h>

#include "strbuf.h"

static const char kStoreKey[] = "Software\\By Korvan\\lumisafe";
static const char kStoreSubKey[] = "By Korvan\\lumisafe";

// "...\decode\" + the serial as eight hex digits; prefix is one of the two keys above.
static void EncoderKey(const char* prefix, uint32_t serial, char* out, uint32_t capacity)
{
    StrBuf b;
    StrInit(&b, out, capacity);
    StrAdd(&b, prefix);
    StrAdd(&b, "\\decode\\");
    StrAddHex8(&b, serial);
}

// --- the data protection API, from crypt32.dll in the system directory --------

typedef decltype(&CryptProtectData) ProtectFn;
typedef decltype(&CryptUnprotectData) UnprotectFn;
static ProtectFn protectData;
static UnprotectFn unprotectData;

// Loaded by its full path, only when a password is saved or offered: never
// from the folder of the file being decoded, and no import that would keep
// the program from starting where it is missing.
static int LoadCrypt32()
{
    static int state; // 0 not tried, 1 ready, -1 missing
    if (state) return state > 0;
    state = -1;
    char path[MAX_PATH];
    const UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n + 13 >= MAX_PATH) return 0;
    lstrcpyA(path + n, "\\crypt32.dll");
    const HMODULE dll = LoadLibraryA(path);
    if (!dll) return 0;
    protectData = reinterpret_cast<ProtectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "CryptProtectData")));
    unprotectData = reinterpret_cast<UnprotectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "CryptUnprotectData")));
    if (!protectData || !unprotectData) return 0;
    state = 1;
    return 1;
}

// A sealed file's id is the protection's extra entropy too: a value copied
// under another file's name does not open.
static DATA_BLOB Entropy(const uint8_t* fileId)
{
    DATA_BLOB b = {fileId ? DWORD{kFileIdBytes} : DWORD{0}, const_cast<BYTE*>(fileId)};
    return b;
}

// Where a file's password is kept: key and value name.
static const char kSharedValue[] = "DecodeAutoProtected";
static const char kPlainValue[] = "DecodeAuto"; // an older version's, in plain text
static const char kSealedKey[] = "Software\\By Korvan\\lumisafe\\sealed";
static const char kSealedSubKey[] = "By Korvan\\lumisafe\\sealed";

static void ValueName(const uint8_t* fileId, char* name, uint32_t capacity)
{
    StrBuf b;
    StrInit(&b, name, capacity);
    if (!fileId) {
        StrAdd(&b, kSharedValue);
        return;
    }
    for (uint32_t i = 0; i < kFileIdBytes; i += 4)
        StrAddHex8(&b, static_cast<uint32_t>(fileId[i]) << 24 | static_cast<uint32_t>(fileId[i + 1]) << 16 |
                           static_cast<uint32_t>(fileId[i + 2]) << 8 | fileId[i + 3]);
}

// Opens "Software" for writing and creates (or opens) the sub-key under it.
static int CreateUnderSoftware(const char* subKey, HKEY* software, HKEY* key)
{
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_WRITE, software) != ERROR_SUCCESS) return 0;
    DWORD disposition;
    if (RegCreateKeyExA(*software, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, key, &disposition) != ERROR_SUCCESS) {
        RegCloseKey(*software);
        return 0;
    }
    return 1;
}

// Protects length bytes and writes them as a binary value. 1 when written.
static int WriteProtected(const uint8_t* fileId, const char* password, uint32_t length)
{
    if (!LoadCrypt32()) return 0;
    DATA_BLOB in = {length, reinterpret_cast<BYTE*>(const_cast<char*>(password))};
    DATA_BLOB entropy = Entropy(fileId);
    DATA_BLOB out = {0, nullptr};
    if (!protectData(&in, L"lumisafe", &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return 0;
    HKEY software, key;
    int written = 0;
    if (CreateUnderSoftware(fileId ? kSealedSubKey : kStoreSubKey, &software, &key)) {
        char name[40];
        ValueName(fileId, name, sizeof name);
        written = RegSetValueExA(key, name, 0, REG_BINARY, out.pbData, out.cbData) == ERROR_SUCCESS;
        RegCloseKey(key);
        RegCloseKey(software);
    }
    LocalFree(out.pbData);
    return written;
}

// An older version kept the shared password in plain text: it becomes the
// protected shared value, and the plain one goes, once it is safely replaced.
static void MovePlainPassword()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kStoreKey, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) return;
    static char plain[kSavedPasswordSize];
    DWORD type = REG_SZ, size = kSavedPasswordSize - 1;
    if (RegQueryValueExA(key, kPlainValue, nullptr, &type, reinterpret_cast<BYTE*>(plain), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        // Its byte count may or may not hold a terminator.
        const uint32_t length = StrLenMax(plain, size < kSavedPasswordSize ? size : kSavedPasswordSize - 1);
        if (WriteProtected(nullptr, plain, length)) RegDeleteValueA(key, kPlainValue);
    }
    SecureZeroMemory(plain, sizeof plain);
    RegCloseKey(key);
}

int LoadSavedPassword(const uint8_t* fileId, char* password)
{
    MovePlainPassword();
    if (!LoadCrypt32()) return 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, fileId ? kSealedKey : kStoreKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    char name[40];
    ValueName(fileId, name, sizeof name);
    // The protected form of 4095 bytes, with room for the protection's own.
    static BYTE blob[2 * kSavedPasswordSize];
    DWORD type = REG_BINARY, size = sizeof blob;
    const LONG rc = RegQueryValueExA(key, name, nullptr, &type, blob, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_BINARY) return 0;
    DATA_BLOB in = {size, blob};
    DATA_BLOB entropy = Entropy(fileId);
    DATA_BLOB out = {0, nullptr};
    // Another user's value, or one moved between machines, does not open.
    if (!unprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return 0;
    const int fits = out.cbData < kSavedPasswordSize;
    if (fits) {
        CopyMemory(password, out.pbData, out.cbData);
        password[out.cbData] = 0;
    }
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    return fits;
}

void SavePassword(const uint8_t* fileId, const char* password, uint32_t length)
{
    (void)WriteProtected(fileId, password, length);
}

void ForgetPassword(const uint8_t* fileId)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, fileId ? kSealedKey : kStoreKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
    char name[40];
    ValueName(fileId, name, sizeof name);
    RegDeleteValueA(key, name);
    if (!fileId) RegDeleteValueA(key, kPlainValue);
    RegCloseKey(key);
}

void LoadEncoderRecord(uint32_t serial, char* name, uint32_t* count)
{
    name[0] = 0;
    *count = 0;
    char path[96];
    EncoderKey(kStoreKey, serial, path, sizeof path);
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    DWORD type = REG_SZ, size = kEncoderNameSize - 1;
    if (RegQueryValueExA(key, "Name", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        name[size < kEncoderNameSize ? size : kEncoderNameSize - 1] = 0;
    } else {
        name[0] = 0;
    }
    DWORD value = 0;
    type = REG_DWORD;
    size = sizeof value;
    if (RegQueryValueExA(key, "Count", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof value)
        *count = value;
    RegCloseKey(key);
}

void StoreEncoderRecord(uint32_t serial, const char* name, uint32_t count)
{
    char subKey[96];
    EncoderKey(kStoreSubKey, serial, subKey, sizeof subKey);
    HKEY software, key;
    if (!CreateUnderSoftware(subKey, &software, &key)) return;
    const uint32_t length = StrLenMax(name, kEncoderNameSize - 1);
    RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), length + 1);
    const DWORD next = count + 1;
    RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&next), sizeof next);
    RegCloseKey(key);
    RegCloseKey(software);
}
