#include "codepage.h"

#include <cerrno>
#include <vector>

#include "record.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

bool IsAscii(const char* s, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(s[i]) >= 0x80) return false;
    return true;
}

bool IsAscii(const std::string& s)
{
    return IsAscii(s.data(), s.size());
}

bool IsValidUtf8(const char* s, size_t size)
{
    size_t i = 0;
    while (i < size) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        if (c < 0x80) n = 0;
        else if (c >= 0xC2 && c <= 0xDF) n = 1;
        else if (c >= 0xE0 && c <= 0xEF) n = 2;
        else if (c >= 0xF0 && c <= 0xF4) n = 3;
        else return false;
        if (i + n >= size) return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

bool IsValidUtf8(const std::string& s)
{
    return IsValidUtf8(s.data(), s.size());
}

#ifdef _WIN32
// Converts into out (capacity bytes); the wide copy between the two code
// pages is wiped, since the text may be a password.
static bool ConvertInto(const char* in, size_t inLength, int fromCodepage, int toCodepage, char* out,
                        size_t capacity, size_t* written)
{
    const UINT from = static_cast<UINT>(fromCodepage), to = static_cast<UINT>(toCodepage);
    *written = 0;
    if (inLength == 0) return true;
    if (inLength > 0x7FFFFFFF || capacity > 0x7FFFFFFF) return false;
    const int wn = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in, static_cast<int>(inLength), nullptr, 0);
    if (wn <= 0) return false;
    std::vector<wchar_t> wide(static_cast<size_t>(wn));
    MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in, static_cast<int>(inLength), wide.data(), wn);
    // Without WC_NO_BEST_FIT_CHARS Windows quietly writes a look-alike (an e
    // for an \u00e9) that is not the character at all: a name or a password
    // would change without a word.
    BOOL lossy = FALSE;
    const DWORD flags = to == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL* const lossyOut = to == CP_UTF8 ? nullptr : &lossy;
    const int n = WideCharToMultiByte(to, flags, wide.data(), wn, nullptr, 0, nullptr, lossyOut);
    bool ok = n > 0 && !lossy && static_cast<size_t>(n) <= capacity;
    if (ok) ok = WideCharToMultiByte(to, flags, wide.data(), wn, out, n, nullptr, lossyOut) == n && !lossy;
    SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
    if (ok) *written = static_cast<size_t>(n);
    return ok;
}

static const int kUtf8 = CP_UTF8;
#else
static const char* IconvName(int codepage)
{
    return codepage == 65001 ? "UTF-8" : codepage == kCodepage932 ? "CP932" : "CP1252";
}

static bool ConvertInto(const char* in, size_t inLength, int from, int to, char* out, size_t capacity,
                        size_t* written)
{
    *written = 0;
    iconv_t cd = iconv_open(IconvName(to), IconvName(from));
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    char* src = const_cast<char*>(in);
    size_t srcLeft = inLength;
    char* dst = out;
    size_t dstLeft = capacity;
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    const bool ok = r != static_cast<size_t>(-1) && srcLeft == 0 &&
                    iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    if (ok) *written = static_cast<size_t>(dst - out);
    return ok;
}

static const int kUtf8 = 65001;

#endif

// One character of UTF-8 takes at most 2 bytes in code page 1252 or 932, and
// one byte of those at most 3 in UTF-8.
static bool Convert(const std::string& in, int from, int to, std::string* out)
{
    std::vector<char> buf(in.size() * 3 + 16);
    size_t n = 0;
    if (!ConvertInto(in.data(), in.size(), from, to, buf.data(), buf.size(), &n)) return false;
    out->assign(buf.data(), n);
    return true;
}

bool Utf8ToCodepage(const std::string& utf8, int codepage, std::string* out)
{
    return Convert(utf8, kUtf8, codepage, out);
}

bool CodepageToUtf8(const std::string& bytes, int codepage, std::string* out)
{
    return Convert(bytes, codepage, kUtf8, out);
}

bool Utf8ToCodepageInto(const char* utf8, size_t length, int codepage, char* out, size_t capacity, size_t* written)
{
    return ConvertInto(utf8, length, kUtf8, codepage, out, capacity, written);
}

int ChooseCodepageFor(const std::string& utf8)
{
    std::string tmp;
    if (Utf8ToCodepage(utf8, kCodepage1252, &tmp)) return kCodepage1252;
    if (Utf8ToCodepage(utf8, kCodepage932, &tmp)) return kCodepage932;
    return 0;
}

int GuessStoredCodepage(const std::string& bytes)
{
    std::string tmp;
    return CodepageToUtf8(bytes, kCodepage932, &tmp) ? kCodepage932 : kCodepage1252;
}

std::string CutToBytes(const std::string& text, size_t maxBytes, int codepage)
{
    if (text.size() <= maxBytes) return text;
    size_t end = 0;
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t n = 1;
        if (codepage == kCodepage932 && IsShiftJisLeadByte(c)) n = 2;
        if (codepage == 65001) n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (i + n > maxBytes) break;
        i += n;
        end = i;
    }
    return text.substr(0, end);
}
