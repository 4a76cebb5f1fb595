// What the cleanup stage may delete and the batch text it writes, on tables
// of hostile names; built natively and for Windows.
#include <gtest/gtest.h>

#include <string>

#include "cleanup_rules.h"

namespace {

const char kTemp[] = "C:\\Users\\a\\AppData\\Local\\Temp\\";

struct PathCase {
    const char* path; // as the system resolved it
    const char* prefix;
    int dbcs;
    int own;
};

TEST(CleanupRules, OnlyOurOwnCopiesInTheTemporaryFolder)
{
    const PathCase cases[] = {
        {"C:\\Users\\a\\AppData\\Local\\Temp\\DEC1A2B.exe", "DEC", 0, 1},
        {"C:\\Users\\a\\AppData\\Local\\Temp\\dec1a.EXE", "DEC", 0, 1},  // Wine's lower-case hex
        {"c:\\users\\A\\appdata\\local\\temp\\Del3.exe", "Del", 0, 1},   // the system may change case
        {"C:\\Users\\a\\AppData\\Local\\Temp\\Del1A2B.exe", "DEC", 0, 0}, // the other stage's prefix
        {"C:\\Users\\a\\Desktop\\tool.exe", "DEC", 0, 0},                // what "DEC/../../Desktop" resolves to
        {"C:\\Users\\a\\AppData\\Local\\Temp\\DEC\\tool.exe", "DEC", 0, 0},
        {"C:\\Users\\a\\AppData\\Local\\Temp\\sub\\DEC1A2B.exe", "DEC", 0, 0},
        {"C:\\Users\\a\\AppData\\Local\\Temp\\DEC1A2B.exe:evil", "DEC", 0, 0},     // a stream
        {"C:\\Users\\a\\AppData\\Local\\Temp\\DEC1A2B.exe:x.exe", "DEC", 0, 0},
        {"C:\\Users\\a\\AppData\\Local\\Temp\\DECtool.exe", "DEC", 0, 0},
        {"C:\\Users\\a\\AppData\\Local\\Temp\\DEC12345.exe", "DEC", 0, 0},          // five digits
        {"C:\\Users\\a\\AppData\\Local\\Temp\\DEC.exe", "DEC", 0, 0},
        {"C:\\Users\\a\\AppData\\Local\\Temp\\DEC1A2B.exe.lnk", "DEC", 0, 0},
        {"C:\\Users\\a\\AppData\\Local\\Temp\\DEC1A2B.bat", "DEC", 0, 0},
        {"C:\\Users\\a\\AppData\\Local\\Temp\\DEC1~1.EXE", "DEC", 0, 0},            // a short name
        {"C:\\Users\\a\\AppData\\Local\\TempX\\DEC1A2B.exe", "DEC", 0, 0},
        {"C:\\Users\\a\\AppData\\Local\\Temp", "DEC", 0, 0},
        {"\\\\.\\CON", "DEC", 0, 0},                                                 // a device
        {"\\\\?\\C:\\Users\\a\\AppData\\Local\\Temp\\DEC1A2B.exe", "DEC", 0, 0},
        {"", "DEC", 0, 0},
    };
    for (const PathCase& c : cases)
        EXPECT_EQ(IsOwnTempPath(c.path, kTemp, c.prefix, c.dbcs), c.own) << c.path;
}

TEST(CleanupRules, ShiftJisTrailBytesAreNotSeparators)
{
    // "\x95\x5C" is one character (a kanji whose trail byte is 0x5C): in
    // code page 932 the name below is not directly in the folder "C:\T\".
    EXPECT_EQ(IsOwnTempPath("C:\\T\\DEC1.exe", "C:\\T\\", "DEC", 1), 1);
    EXPECT_EQ(IsOwnTempPath("C:\\T\x95\\DEC1.exe", "C:\\T\x95\\", "DEC", 1), 0); // the folder's "\" is a trail byte
    EXPECT_EQ(IsOwnTempPath("C:\\\x95\\\\DEC1.exe", "C:\\\x95\\\\", "DEC", 1), 1);
    // Trail bytes are compared exactly, never folded like letters.
    EXPECT_EQ(IsOwnTempPath("C:\\\x83\x61\\DEC1.exe", "C:\\\x83\x41\\", "DEC", 1), 0);
}

TEST(CleanupRules, BatchNamesAreNeverQuotedOrExpanded)
{
    const char* unsafe[] = {"a\"&calc&\"b.exe", "100%OS%.exe", "a b.exe",     "x^y.exe", "x!y.exe",
                            "x<y>.exe",       "a(1).exe",    "Jo\xE3o.exe", "\x93q\x94.exe", "C:\\x.exe",
                            "..\\x.exe",      "",            "a&b.exe"};
    char text[512];
    for (const char* name : unsafe) {
        EXPECT_EQ(IsBatchSafeName(name), 0) << name;
        EXPECT_EQ(FormatDeleteBatch(name, "Del1.bat", text, sizeof text), 0u) << name;
        EXPECT_EQ(FormatDeleteBatch("Del1.exe", name, text, sizeof text), 0u) << name;
    }
}

TEST(CleanupRules, BatchTextDeletesTargetThenItself)
{
    char text[512];
    const uint32_t n = FormatDeleteBatch("Del1A2B.exe", "Del1A2B.bat", text, sizeof text);
    ASSERT_GT(n, 0u);
    const std::string t(text, n);
    EXPECT_EQ(t,
              "@echo off\r\nset n=0\r\n:Repeat\r\ndel \"Del1A2B.exe\"\r\nif not exist \"Del1A2B.exe\" goto Done\r\n"
              "set /a n+=1\r\nif %n% GEQ 600 goto Done\r\nping -n 2 127.0.0.1 >nul\r\ngoto Repeat\r\n:Done\r\n"
              "del \"Del1A2B.bat\"\r\n");
    EXPECT_EQ(FormatDeleteBatch("Del1A2B.exe", "Del1A2B.bat", text, 40), 0u); // too small: refused, not cut
}

} // namespace
