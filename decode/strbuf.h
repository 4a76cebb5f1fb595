// Building texts in fixed buffers without ever writing past them: every
// append is cut at the capacity and the cut is remembered, so callers can
// refuse a text that did not fit instead of using a truncated path.
#ifndef LUMISAFE_DECODE_STRBUF_H
#define LUMISAFE_DECODE_STRBUF_H

#include <cstdint>

struct StrBuf {
    char* text;
    uint32_t capacity; // bytes, terminator included
    uint32_t length;
    int complete;      // 0 once anything was cut
};

void StrInit(StrBuf* b, char* storage, uint32_t capacity);
void StrAdd(StrBuf* b, const char* s);
void StrAddN(StrBuf* b, const char* s, uint32_t n);
void StrAddInt(StrBuf* b, int32_t v);
void StrAddHex8(StrBuf* b, uint32_t v); // "%08X"

// Length of a zero-terminated text, never reading past max bytes.
uint32_t StrLenMax(const char* s, uint32_t max);

#endif
