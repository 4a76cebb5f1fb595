// Stored names become one safe file name; text crosses code pages exactly.
#include <gtest/gtest.h>

#include "codepage.h"
#include "names.h"

namespace {

TEST(Names, StoredNameBecomesOneSafeComponent)
{
    struct Case {
        std::string stored;
        int codepage;
        std::string expected;
    } cases[] = {
        {"report.pdf", kCodepageAuto, "report.pdf"},
        {"..\\..\\Windows\\system.ini", kCodepageAuto, "system.ini"},
        {"../../etc/passwd", kCodepageAuto, "passwd"},
        {"C:evil.exe", kCodepageAuto, "evil.exe"},
        {"..", kCodepageAuto, "decoded.bin"},
        {".", kCodepageAuto, "decoded.bin"},
        {"", kCodepageAuto, "decoded.bin"},
        {"dir\\", kCodepageAuto, "decoded.bin"},
        {"a\x01" "b\x7F" "c", kCodepageAuto, "a_b_c"},
        {"what?<>|*\".txt", kCodepageAuto, "what______.txt"},
        {"trailing. . ", kCodepageAuto, "trailing"},
        {"CON", kCodepageAuto, "_CON"},
        {"com1.txt", kCodepageAuto, "_com1.txt"},
        {"console.txt", kCodepageAuto, "console.txt"},
        {"caf\xE9.txt", kCodepageAuto, "café.txt"},
        {"\x93\xFA\x96\x7B.txt", kCodepageAuto, "日本.txt"},
        {"\x95\x5C.txt", kCodepageAuto, "表.txt"}, // trail byte 0x5C is no separator
        {"\x95\x5C.txt", kCodepage1252, ".txt"}, // 1252 forced: 0x5C separates
        {std::string(300, 'n'), kCodepageAuto, std::string(255, 'n')},
    };
    for (const Case& c : cases) EXPECT_EQ(SafeOutputName(c.stored, c.codepage), c.expected) << c.stored;
}

TEST(Codepage, ConversionsAndChoice)
{
    std::string out;
    EXPECT_TRUE(Utf8ToCodepage("日本", kCodepage932, &out));
    EXPECT_EQ(out, "\x93\xFA\x96\x7B");
    EXPECT_FALSE(Utf8ToCodepage("日本", kCodepage1252, &out));
    EXPECT_EQ(ChooseCodepageFor("café"), kCodepage1252);
    EXPECT_EQ(ChooseCodepageFor("パスワード"), kCodepage932);
    EXPECT_EQ(ChooseCodepageFor("Ελληνικά"), 0);
    EXPECT_TRUE(IsValidUtf8("日本"));
    EXPECT_FALSE(IsValidUtf8("\x93\xFA"));
    EXPECT_FALSE(IsValidUtf8("\xC3"));
    EXPECT_EQ(CutToBytes("\x93\xFA\x96\x7B", 3, kCodepage932), "\x93\xFA");
    EXPECT_EQ(CutToBytes("日本", 4, 65001), "日");
}

// Exact or refused, never a look-alike: the system's converter on Windows
// maps characters a code page lacks to similar ones unless told not to.
TEST(Codepage, NoLookAlikes)
{
    const struct {
        const char* utf8;
        int codepage;
        bool fits;
    } cases[] = {
        {"héllo 日本", kCodepage932, false}, {"héllo", kCodepage1252, true}, {"über", kCodepage932, false},
        {"Ωmega", kCodepage1252, false},   {"ﬁle", kCodepage1252, false},  {"①", kCodepage1252, false},
        {"①", kCodepage932, true},          {"€5", kCodepage1252, true},    {"ａｂｃ", kCodepage1252, false},
    };
    for (const auto& c : cases) {
        std::string out, back;
        EXPECT_EQ(Utf8ToCodepage(c.utf8, c.codepage, &out), c.fits) << c.utf8 << " in " << c.codepage;
        if (c.fits) {
            EXPECT_TRUE(CodepageToUtf8(out, c.codepage, &back));
            EXPECT_EQ(back, c.utf8);
        }
    }
    EXPECT_EQ(ChooseCodepageFor("héllo 日本.txt"), 0);
}

} // namespace
