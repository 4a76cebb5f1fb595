#include "strbuf.h"

void StrInit(StrBuf* b, char* storage, uint32_t capacity)
{
    b->text = storage;
    b->capacity = capacity;
    b->length = 0;
    b->complete = capacity > 0;
    if (capacity) storage[0] = 0;
}

void StrAddN(StrBuf* b, const char* s, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i) {
        if (b->length + 1 >= b->capacity) {
            b->complete = 0;
            break;
        }
        b->text[b->length++] = s[i];
    }
    if (b->capacity) b->text[b->length] = 0;
}

void StrAdd(StrBuf* b, const char* s)
{
    uint32_t n = 0;
    while (s[n]) ++n;
    StrAddN(b, s, n);
}

void StrAddInt(StrBuf* b, int32_t v)
{
    char digits[12];
    uint32_t n = 0;
    uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0) digits[n++] = '-';
    char out[12];
    for (uint32_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    StrAddN(b, out, n);
}

void StrAddHex8(StrBuf* b, uint32_t v)
{
    static const char hex[] = "0123456789ABCDEF";
    char out[8];
    for (int i = 7; i >= 0; --i, v >>= 4) out[i] = hex[v & 15];
    StrAddN(b, out, 8);
}

uint32_t StrLenMax(const char* s, uint32_t max)
{
    uint32_t n = 0;
    while (n < max && s[n]) ++n;
    return n;
}
