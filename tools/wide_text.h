// UTF-8, the text of the tool and its host layer, to and from the UTF-16 of
// the Windows wide-character API (Windows builds only).
#ifndef LUMISAFE_TOOLS_WIDE_TEXT_H
#define LUMISAFE_TOOLS_WIDE_TEXT_H

#include <cstddef>
#include <string>

std::wstring WideFromUtf8(const std::string& utf8);
std::string Utf8FromWide(const wchar_t* text, size_t length);

#endif
