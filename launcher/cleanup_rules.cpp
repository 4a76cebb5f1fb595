#include "cleanup_rules.h"

#include "record.h"
#include "strbuf.h"
#include "stub_state.h"

static uint8_t FoldAscii(uint8_t c)
{
    return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 'a' + 'A') : c;
}

// Compares n bytes of a and b, ASCII letters without case; the two bytes of
// a Shift-JIS character are compared exactly.
static int SameIgnoringAsciiCase(const char* a, const char* b, uint32_t n, int dbcs)
{
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
        if (dbcs && IsShiftJisLeadByte(x)) {
            if (x != y || i + 1 >= n || a[i + 1] != b[i + 1]) return 0;
            ++i;
            continue;
        }
        if (FoldAscii(x) != FoldAscii(y)) return 0;
    }
    return 1;
}

static int IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// prefix, 1 to 4 hex digits, ".exe": what our temporary names look like.
static int IsOwnTempName(const char* name, const char* prefix)
{
    const uint32_t prefixLength = StrLenMax(prefix, 8);
    if (!SameIgnoringAsciiCase(name, prefix, prefixLength, 0)) return 0;
    const char* p = name + prefixLength;
    uint32_t digits = 0;
    while (digits < 5 && IsHexDigit(p[digits])) ++digits;
    if (digits < 1 || digits > 4) return 0;
    p += digits;
    return StrLenMax(p, 5) == 4 && SameIgnoringAsciiCase(p, ".EXE", 4, 0);
}

int IsOwnTempPath(const char* fullPath, const char* tempDir, const char* prefix, int dbcs)
{
    const uint32_t dirLength = StrLenMax(tempDir, kPathSize);
    const uint32_t pathLength = StrLenMax(fullPath, kPathSize);
    if (dirLength < 3 || tempDir[dirLength - 1] != '\\' || pathLength <= dirLength) return 0;
    if (!SameIgnoringAsciiCase(fullPath, tempDir, dirLength, dbcs)) return 0;
    // The "\" that ends tempDir must really end it: not a trail byte of fullPath.
    if (StoredNameLastComponent(fullPath, dbcs) != dirLength) return 0;
    return IsOwnTempName(fullPath + dirLength, prefix);
}

int IsBatchSafeName(const char* name)
{
    if (!name[0]) return 0;
    for (const char* p = name; *p; ++p) {
        const char c = *p;
        const int ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '-' || c == '_';
        if (!ok) return 0;
    }
    return 1;
}

uint32_t FormatDeleteBatch(const char* target, const char* batchName, char* out, uint32_t capacity)
{
    if (!IsBatchSafeName(target) || !IsBatchSafeName(batchName)) return 0;
    StrBuf b;
    StrInit(&b, out, capacity);
    // ping is the one-second pause that every NT version has.
    StrAdd(&b, "@echo off\r\nset n=0\r\n:Repeat\r\ndel \"");
    StrAdd(&b, target);
    StrAdd(&b, "\"\r\nif not exist \"");
    StrAdd(&b, target);
    StrAdd(&b, "\" goto Done\r\nset /a n+=1\r\nif %n% GEQ 600 goto Done\r\nping -n 2 127.0.0.1 >nul\r\n"
               "goto Repeat\r\n:Done\r\ndel \"");
    StrAdd(&b, batchName);
    StrAdd(&b, "\"\r\n");
    return b.complete ? b.length : 0;
}
