#include "messages.h"

#include <windows.h>

#include <cstring>

int IsJapaneseMode()
{
    return GetOEMCP() == 932;
}

const char* Text(MessageId id)
{
    const char* p = IsJapaneseMode() ? kJapaneseTexts : kEnglishTexts;
    for (int i = 0; i < id; ++i) p += std::strlen(p) + 1;
    return p;
}

void ShowError(void* owner, const char* caption, MessageId id)
{
    MessageBoxA(static_cast<HWND>(owner), Text(id), caption, MB_OK | MB_ICONERROR);
}
