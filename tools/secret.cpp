#include "secret.h"

#include <cstring>

#include "codepage.h"
#include "sealed.h"

Secret::Secret(size_t cap) : bytes(new uint8_t[cap + 1]()), capacity(cap) {}

Secret::~Secret()
{
    SecureWipe(bytes, capacity + 1);
    delete[] bytes;
}

bool SecretAppend(Secret* s, const void* p, size_t n)
{
    if (n > s->capacity - s->length) return false;
    std::memcpy(s->bytes + s->length, p, n);
    s->length += n;
    s->bytes[s->length] = 0; // room for it was taken at construction
    return true;
}

void SecretClear(Secret* s)
{
    SecureWipe(s->bytes, s->capacity + 1);
    s->length = 0;
}

bool SecretEqual(const Secret& a, const Secret& b)
{
    return a.length == b.length && std::memcmp(a.bytes, b.bytes, a.length) == 0;
}

bool PasswordInCodepage(const Secret& typed, int codepage, Secret* out)
{
    SecretClear(out);
    const char* text = SecretText(typed);
    // ASCII is the same in every code page; bytes that are not UTF-8 are
    // taken as the code page's own.
    if (IsAscii(text, typed.length) || !IsValidUtf8(text, typed.length))
        return SecretAppend(out, typed.bytes, typed.length);
    for (const int cp : {kCodepage1252, kCodepage932}) {
        if (codepage != kCodepageAuto && cp != codepage) continue;
        size_t n = 0;
        if (Utf8ToCodepageInto(text, typed.length, cp, reinterpret_cast<char*>(out->bytes), out->capacity, &n)) {
            out->length = n;
            out->bytes[n] = 0;
            return true;
        }
        SecretClear(out);
    }
    return false;
}
