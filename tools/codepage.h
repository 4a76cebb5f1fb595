// Conversions between UTF-8 (what the tool's user types and the host file
// system holds) and the Windows ANSI code pages a self-decoding file stores:
// 1252 (Western) and 932 (Shift-JIS).
#ifndef LUMISAFE_TOOLS_CODEPAGE_H
#define LUMISAFE_TOOLS_CODEPAGE_H

#include <string>

enum Codepage { kCodepageAuto = 0, kCodepage932 = 932, kCodepage1252 = 1252 };

bool IsAscii(const std::string& s);
bool IsAscii(const char* s, size_t n);
bool IsValidUtf8(const std::string& s);
bool IsValidUtf8(const char* s, size_t n);

// Exact conversions; false when a character has no place in the target.
bool Utf8ToCodepage(const std::string& utf8, int codepage, std::string* out);
bool CodepageToUtf8(const std::string& bytes, int codepage, std::string* out);
// The same into a caller's buffer of capacity bytes, leaving no copy of the
// text elsewhere (for passwords); false also when it would not fit.
bool Utf8ToCodepageInto(const char* utf8, size_t length, int codepage, char* out, size_t capacity, size_t* written);

// 1252 when every character fits, else 932; 0 when neither holds the text.
int ChooseCodepageFor(const std::string& utf8);

// The code page a stored (non-ASCII) name most likely uses: 932 when the
// bytes are valid Shift-JIS, else 1252.
int GuessStoredCodepage(const std::string& bytes);

// Cuts text to at most maxBytes without splitting a double-byte character
// (code page 932) or a UTF-8 sequence (codepage 65001).
std::string CutToBytes(const std::string& text, size_t maxBytes, int codepage);

#endif
