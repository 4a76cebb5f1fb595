#include "messages.h"

#include <windows.h>

int IsJapaneseMode()
{
    return GetOEMCP() == 932;
}

const char* Text(MessageId id)
{
    return kMessageTexts[IsJapaneseMode() ? 1 : 0][id];
}

void ShowError(void* owner, const char* caption, MessageId id)
{
    MessageBoxA(static_cast<HWND>(owner), Text(id), caption, MB_OK | MB_ICONERROR);
}
