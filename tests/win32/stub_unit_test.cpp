// The stub's Windows pieces under real Win32 (Wine): the registry store, the
// in-memory self-deletion routine, temporary names and the batch text.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "encoder_info_dialog.h"
#include "messages.h"
#include "registry_store.h"
#include "stages.h"
#include "strbuf.h"

namespace {

const char kKey[] = "Software\\By Korvan\\lumisafe";

// Reads a value's raw bytes and type; false when it is missing.
bool RawValue(const char* key, const char* name, std::string* data, DWORD* type)
{
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    char buf[8192];
    DWORD size = sizeof buf;
    const LONG rc = RegQueryValueExA(k, name, nullptr, type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS) return false;
    data->assign(buf, size);
    return true;
}

const char kSealedKey[] = "Software\\By Korvan\\lumisafe\\sealed";
const uint8_t kIdA[kFileIdBytes] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                    0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0xAF};
const uint8_t kIdB[kFileIdBytes] = {0xFF};
const char kIdAName[] = "000102030405060708090A0B0C0D0EAF";

void WriteRaw(const char* key, const char* name, DWORD type, const std::string& data)
{
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    RegCloseKey(k);
}

TEST(RegistryStore, SharedPasswordIsProtectedAndReadBackExactly)
{
    ForgetPassword(nullptr);
    char pw[kSavedPasswordSize];
    const char secret[] = "pa ss\x82\xA0word";
    SavePassword(nullptr, secret, sizeof secret - 1);
    std::string raw;
    DWORD type = 0;
    ASSERT_TRUE(RawValue(kKey, "DecodeAutoProtected", &raw, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(raw.find("pa ss"), std::string::npos) << "the password is readable in the registry";
    EXPECT_FALSE(RawValue(kKey, "DecodeAuto", &raw, &type)) << "a plain value was written";
    ASSERT_EQ(LoadSavedPassword(nullptr, pw), 1);
    EXPECT_STREQ(pw, secret);

    SavePassword(nullptr, "", 0); // an empty saved password is still a saved one
    ASSERT_EQ(LoadSavedPassword(nullptr, pw), 1);
    EXPECT_STREQ(pw, "");

    ForgetPassword(nullptr);
    EXPECT_EQ(LoadSavedPassword(nullptr, pw), 0);
    ForgetPassword(nullptr); // forgetting twice is silent
    HKEY k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k), ERROR_SUCCESS); // the key stays
    RegCloseKey(k);
}

TEST(RegistryStore, SealedFilePasswordIsOfferedToThatFileAlone)
{
    ForgetPassword(nullptr);
    ForgetPassword(kIdA);
    ForgetPassword(kIdB);
    char pw[kSavedPasswordSize];
    SavePassword(kIdA, "alpha", 5);
    std::string raw;
    DWORD type = 0;
    ASSERT_TRUE(RawValue(kSealedKey, kIdAName, &raw, &type)) << "not kept under the file's id";
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(raw.find("alpha"), std::string::npos);
    ASSERT_EQ(LoadSavedPassword(kIdA, pw), 1);
    EXPECT_STREQ(pw, "alpha");
    EXPECT_EQ(LoadSavedPassword(kIdB, pw), 0) << "offered to another sealed file";
    EXPECT_EQ(LoadSavedPassword(nullptr, pw), 0) << "offered to classic files";
    // Copied under another file's id, the value does not open: the id is
    // part of the protection.
    char nameB[40] = "FF000000000000000000000000000000";
    WriteRaw(kSealedKey, nameB, REG_BINARY, raw);
    EXPECT_EQ(LoadSavedPassword(kIdB, pw), 0);
    ForgetPassword(kIdA);
    ForgetPassword(kIdB);
    EXPECT_EQ(LoadSavedPassword(kIdA, pw), 0);
}

TEST(RegistryStore, PlainPasswordOfAnOlderVersionIsReplacedByAProtectedOne)
{
    ForgetPassword(nullptr);
    WriteRaw(kKey, "DecodeAuto", REG_SZ, std::string("old one", 7)); // without a terminator, as it was written
    char pw[kSavedPasswordSize];
    EXPECT_EQ(LoadSavedPassword(kIdA, pw), 0) << "a sealed file was offered the shared password";
    std::string raw;
    DWORD type = 0;
    EXPECT_FALSE(RawValue(kKey, "DecodeAuto", &raw, &type)) << "the plain value is still there";
    ASSERT_TRUE(RawValue(kKey, "DecodeAutoProtected", &raw, &type));
    EXPECT_EQ(raw.find("old one"), std::string::npos);
    ASSERT_EQ(LoadSavedPassword(nullptr, pw), 1);
    EXPECT_STREQ(pw, "old one");
    ForgetPassword(nullptr);
}

TEST(RegistryStore, LongestPasswordFits)
{
    const std::string longest(kSavedPasswordSize - 1, 'x');
    SavePassword(nullptr, longest.c_str(), static_cast<uint32_t>(longest.size()));
    std::vector<char> pw(kSavedPasswordSize);
    ASSERT_EQ(LoadSavedPassword(nullptr, pw.data()), 1);
    EXPECT_EQ(std::string(pw.data()), longest);
    ForgetPassword(nullptr);
}

TEST(RegistryStore, EncoderRecordCountsAndKeepsLeadingZeros)
{
    const uint32_t serial = 0x00ABCDEF;
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\By Korvan\\lumisafe\\decode\\00ABCDEF");
    char name[kEncoderNameSize];
    uint32_t count = 99;
    LoadEncoderRecord(serial, name, &count);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(count, 0u);

    StoreEncoderRecord(serial, "", 0);
    std::string raw;
    DWORD type = 0;
    ASSERT_TRUE(RawValue("Software\\By Korvan\\lumisafe\\decode\\00ABCDEF", "Count", &raw, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    LoadEncoderRecord(serial, name, &count);
    EXPECT_EQ(count, 1u);

    StoreEncoderRecord(serial, "office PC", 20);
    LoadEncoderRecord(serial, name, &count);
    EXPECT_STREQ(name, "office PC");
    EXPECT_EQ(count, 21u);
    ASSERT_TRUE(RawValue("Software\\By Korvan\\lumisafe\\decode\\00ABCDEF", "Name", &raw, &type));
    EXPECT_EQ(raw, std::string("office PC", 10)); // terminator included
}

// --- the in-memory routine --------------------------------------------------

struct Call {
    int which;
    uint32_t argument;
};
Call calls[8];
int callCount;
void* backToTest[5];

void WINAPI FakeFreeLibrary(uint32_t module) { calls[callCount++] = {1, module}; }
void WINAPI FakeDeleteFile(uint32_t path) { calls[callCount++] = {2, path}; }
void WINAPI FakeExitProcess(uint32_t code)
{
    calls[callCount++] = {3, code};
    __builtin_longjmp(backToTest, 1);
}

TEST(SelfDelete, UnmapAndDeleteRunsFromAnyAddress)
{
    for (int copy = 0; copy < 2; ++copy) {
        // Two blocks at different addresses; the routine must not care.
        uint8_t* code = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, 8192, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
        ASSERT_NE(code, nullptr);
        uint8_t* at = code + copy * 4096 + 100;
        std::memcpy(at, kUnmapAndDelete, kUnmapAndDeleteSize);

        static SelfDeleteRecord record;
        std::memset(&record, 0xEE, sizeof record);
        record.module = 0x12340000u + static_cast<uint32_t>(copy);
        record.freeLibrary = static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(&FakeFreeLibrary));
        record.deleteFile = static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(&FakeDeleteFile));
        record.exitProcess = static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(&FakeExitProcess));
        std::strcpy(record.modulePath, "C:\\temp\\Del1.exe");
        record.exitCode = 0;
        const SelfDeleteRecord before = record;

        callCount = 0;
        typedef void(WINAPI * Routine)(SelfDeleteRecord*);
        if (__builtin_setjmp(backToTest) == 0) reinterpret_cast<Routine>(at)(&record);

        ASSERT_EQ(callCount, 3);
        EXPECT_EQ(calls[0].which, 1);
        EXPECT_EQ(calls[0].argument, record.module);
        EXPECT_EQ(calls[1].which, 2);
        EXPECT_EQ(calls[1].argument, static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(record.modulePath)));
        EXPECT_EQ(calls[2].which, 3);
        EXPECT_EQ(calls[2].argument, 0u);
        EXPECT_EQ(0, std::memcmp(&before, &record, sizeof record)); // nothing else touched
        VirtualFree(code, 0, MEM_RELEASE);
    }
}

TEST(SelfDelete, RecordLayout)
{
    EXPECT_EQ(sizeof(SelfDeleteRecord), 280u);
    EXPECT_EQ(offsetof(SelfDeleteRecord, modulePath), 12u);
    EXPECT_EQ(offsetof(SelfDeleteRecord, exitProcess), 272u);
    EXPECT_EQ(offsetof(SelfDeleteRecord, exitCode), 276u);
}

TEST(TempNames, ExeNameInTempDirectoryAndNothingLeft)
{
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    char path[MAX_PATH];
    ASSERT_EQ(MakeTempExeName("DEC", path), 1);
    const std::string p = path;
    EXPECT_EQ(p.compare(0, std::strlen(dir), dir), 0) << p;
    EXPECT_EQ(p.substr(std::strlen(dir), 3), "DEC");
    EXPECT_EQ(p.substr(p.size() - 4), ".exe");
    EXPECT_EQ(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES);
    const std::string tmp = p.substr(0, p.size() - 4) + ".tmp";
    EXPECT_EQ(GetFileAttributesA(tmp.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(StrBuf, NeverWritesPastItsCapacity)
{
    char storage[8];
    std::memset(storage, 'z', sizeof storage);
    StrBuf b;
    StrInit(&b, storage, 6);
    StrAdd(&b, "abc");
    StrAddInt(&b, -42);
    EXPECT_STREQ(storage, "abc-4");
    EXPECT_EQ(b.complete, 0);
    EXPECT_EQ(storage[6], 'z');
    StrInit(&b, storage, 8);
    StrAddHex8(&b, 0x00ABCDEF);
    EXPECT_EQ(b.complete, 0);
    char wide[16];
    StrInit(&b, wide, sizeof wide);
    StrAddHex8(&b, 0x00ABCDEF);
    EXPECT_STREQ(wide, "00ABCDEF");
    EXPECT_EQ(b.complete, 1);
}

} // namespace

namespace {

// The test runner pins the time zone to UTC (scripts/wine-run).
TEST(EncoderInfo, DateTextIsTwentyFourCharactersAlsoBefore1970)
{
    struct Case {
        int32_t createdAt;
        const char* expected;
    } cases[] = {
        {0, "Thu Jan 01 00:00:00 1970"},
        {-1, "Wed Dec 31 23:59:59 1969"},
        {-2147483647 - 1, "Fri Dec 13 20:45:52 1901"},
        {1796905937, "Thu Dec 10 12:32:17 2026"},
        {2147483647, "Tue Jan 19 03:14:07 2038"},
    };
    for (const Case& c : cases) {
        char text[25];
        FormatCreatedAt(c.createdAt, text);
        EXPECT_STREQ(text, c.expected) << c.createdAt;
    }
}

// The catalogue is one block of NUL-ended texts per language: a missing or
// extra terminator would shift every text after it.
TEST(Messages, EveryTextInItsPlaceInBothLanguages)
{
    const char* const blocks[2] = {kEnglishTexts, kJapaneseTexts};
    std::vector<std::string> texts[2];
    for (int lang = 0; lang < 2; ++lang) {
        const char* p = blocks[lang];
        for (int id = 0; id < kMessageCount; ++id) {
            ASSERT_NE(p[0], 0) << "empty text " << id << " in language " << lang;
            texts[lang].push_back(p);
            p += std::strlen(p) + 1;
        }
        EXPECT_EQ(p[0], 0) << "more texts than MessageId names in language " << lang;
    }
    EXPECT_EQ(texts[0][kMsgTakeOutFailed], "Could not take out data");
    EXPECT_EQ(texts[0][kMsgWrongPassword], "Wrong password");
    EXPECT_EQ(texts[0][kTextPrompt], "&Input password and push \"OK\".");
    EXPECT_EQ(texts[0][kTextNthTry], "%dth try to decode.");
    // "(&P)" opens the Japanese prompt; "%d " (then Shift-JIS) the last text.
    EXPECT_EQ(texts[1][kTextPrompt].substr(0, 4), "(&P)");
    EXPECT_EQ(texts[1][kTextNthTry].substr(0, 3), "%d ");
    EXPECT_EQ(texts[1][kMsgTamperTitle], "\x8C\x78\x8D\x90\x81\x49"); // 警告！
}

} // namespace
