#include "codepage.h"

#include <cerrno>
#include <vector>

#include "record.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

bool IsAscii(const std::string& s)
{
    for (const char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x80) return false;
    }
    return true;
}

bool IsValidUtf8(const std::string& s)
{
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        if (c < 0x80) n = 0;
        else if (c >= 0xC2 && c <= 0xDF) n = 1;
        else if (c >= 0xE0 && c <= 0xEF) n = 2;
        else if (c >= 0xF0 && c <= 0xF4) n = 3;
        else return false;
        if (i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

#ifdef _WIN32
static bool Convert(const std::string& in, UINT from, UINT to, std::string* out)
{
    if (in.empty()) {
        out->clear();
        return true;
    }
    const int wn = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), nullptr, 0);
    if (wn <= 0) return false;
    std::vector<wchar_t> wide(static_cast<size_t>(wn));
    MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), wide.data(), wn);
    // Without WC_NO_BEST_FIT_CHARS Windows quietly writes a look-alike (an e
    // for an \u00e9) that is not the character at all: a name or a password
    // would change without a word.
    BOOL lossy = FALSE;
    const DWORD flags = to == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(to, flags, wide.data(), wn, nullptr, 0, nullptr, to == CP_UTF8 ? nullptr : &lossy);
    if (n <= 0 || lossy) return false;
    out->assign(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(to, flags, wide.data(), wn, &(*out)[0], n, nullptr, to == CP_UTF8 ? nullptr : &lossy);
    return !lossy;
}

bool Utf8ToCodepage(const std::string& utf8, int codepage, std::string* out)
{
    return Convert(utf8, CP_UTF8, static_cast<UINT>(codepage), out);
}

bool CodepageToUtf8(const std::string& bytes, int codepage, std::string* out)
{
    return Convert(bytes, static_cast<UINT>(codepage), CP_UTF8, out);
}
#else
static const char* IconvName(int codepage)
{
    return codepage == kCodepage932 ? "CP932" : "CP1252";
}

static bool Convert(const std::string& in, const char* from, const char* to, std::string* out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> buf(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = buf.data();
    size_t dstLeft = buf.size();
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    const bool ok = r != static_cast<size_t>(-1) && srcLeft == 0 &&
                    iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    if (!ok) return false;
    out->assign(buf.data(), static_cast<size_t>(dst - buf.data()));
    return true;
}

bool Utf8ToCodepage(const std::string& utf8, int codepage, std::string* out)
{
    return Convert(utf8, "UTF-8", IconvName(codepage), out);
}

bool CodepageToUtf8(const std::string& bytes, int codepage, std::string* out)
{
    return Convert(bytes, IconvName(codepage), "UTF-8", out);
}
#endif

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
