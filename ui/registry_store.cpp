#include "registry_store.h"

#include <windows.h>

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

int LoadSavedPassword(char* password)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kStoreKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD type = REG_SZ;
    DWORD size = kSavedPasswordSize;
    const LONG rc = RegQueryValueExA(key, "DecodeAuto", nullptr, &type,
                                     reinterpret_cast<BYTE*>(password), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return 0;
    // The system may hand back a terminator of its own; a full buffer must
    // not be terminated one byte past its end.
    password[size < kSavedPasswordSize ? size : kSavedPasswordSize - 1] = 0;
    return 1;
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

void SavePassword(const char* password, uint32_t length)
{
    HKEY software, key;
    if (!CreateUnderSoftware(kStoreSubKey, &software, &key)) return;
    RegSetValueExA(key, "DecodeAuto", 0, REG_SZ, reinterpret_cast<const BYTE*>(password), length);
    RegCloseKey(key);
    RegCloseKey(software);
}

void ForgetPassword()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kStoreKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, "DecodeAuto");
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
