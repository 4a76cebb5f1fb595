#include "names.h"

#include <cctype>
#include <cstring>

#include "codepage.h"
#include "record.h"

static bool IsReservedDeviceName(const std::string& name)
{
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char* const reserved[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* r : reserved)
        if (stem == r) return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '0' && stem[3] <= '9';
}

std::string SafeOutputName(const std::string& stored, int codepage)
{
    const std::string raw = stored.substr(0, std::strlen(stored.c_str()));
    int cp = codepage;
    if (cp == kCodepageAuto) cp = IsAscii(raw) ? kCodepage1252 : GuessStoredCodepage(raw);
    const std::string component = raw.substr(StoredNameLastComponent(raw.c_str(), cp == kCodepage932));

    std::string utf8;
    if (!CodepageToUtf8(component, cp, &utf8)) {
        // Bytes that have no character in the code page: keep the ASCII ones.
        utf8.clear();
        for (const char ch : component) utf8.push_back(static_cast<unsigned char>(ch) < 0x80 ? ch : '_');
    }

    std::string name;
    for (const char ch : utf8) {
        const unsigned char c = static_cast<unsigned char>(ch);
        const bool bad = c < 0x20 || c == 0x7F || std::strchr("<>:\"/\\|?*", c) != nullptr;
        name.push_back(bad ? '_' : static_cast<char>(c));
    }
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    if (name.empty()) return "decoded.bin";
    if (IsReservedDeviceName(name)) name = "_" + name;
    name = CutToBytes(name, 255, 65001);
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    return name.empty() ? "decoded.bin" : name;
}
