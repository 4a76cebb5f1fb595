#include "cipher.h"

#include <cstring>

#include "bytes.h"

uint32_t BuildKeyString(const uint8_t* password, uint32_t passwordLength, char* key,
                        uint32_t keyCapacity)
{
    char digits[10];
    uint32_t digitCount = 0;
    uint32_t n = passwordLength;
    do {
        digits[digitCount++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    while (digitCount < 3) digits[digitCount++] = '0';

    if (keyCapacity <= passwordLength || keyCapacity - passwordLength <= digitCount) return 0;
    // The password may already stand at the start of the key buffer.
    if (passwordLength) std::memmove(key, password, passwordLength);
    uint32_t k = passwordLength;
    while (digitCount > 0) key[k++] = digits[--digitCount];
    key[k] = 0;
    return k;
}

// Shape of one transposition, or rows == 0 when it changes nothing.
struct Matrix {
    uint32_t rows;
    uint32_t columns;
    uint8_t* base;
};

static Matrix MatrixFor(uint8_t* buffer, uint32_t length, int32_t offset, int32_t rowParameter)
{
    Matrix m = {0, 0, nullptr};
    // The row count is taken as unsigned: parameters from -128 to -8 give
    // more than four thousand million rows and so no whole column.
    const uint32_t rows = static_cast<uint32_t>(rowParameter) + 7u;
    if (offset < 0 || rows < 2) return m; // undefined or identity
    const uint32_t start = static_cast<uint32_t>(offset);
    if (start >= length) return m;
    const uint32_t columns = (length - start) / rows;
    if (columns == 0) return m;
    m.rows = rows;
    m.columns = columns;
    m.base = buffer + start;
    return m;
}

struct KeyStream;

#ifdef LUMISAFE_COMPACT
// The decoder stub's build: a column at a time, a byte at a time. The rows
// of a column span a few kilobytes, so the next even column finds them still
// in the cache.
static void RotateEvenColumns(const Matrix& m, int down, const KeyStream*, const KeyStream*)
{
    const size_t n = m.columns;
    const size_t span = (m.rows - 1) * n;
    for (uint32_t c = 0; c < m.columns; c += 2) {
        uint8_t* const top = m.base + c;
        uint8_t* const bottom = top + span;
        if (down) {
            const uint8_t leaving = *bottom;
            for (uint8_t* p = bottom; p != top; p -= n) *p = p[-static_cast<ptrdiff_t>(n)];
            *top = leaving;
        } else {
            const uint8_t leaving = *top;
            for (uint8_t* p = top; p != bottom; p += n) *p = p[n];
            *bottom = leaving;
        }
    }
}
#else
// The rotation is done row by row over blocks of columns, so memory is read
// and written sequentially instead of striding down each column; only one
// block of the saved row lives on the stack.
enum : uint32_t { kColumnBlock = 2048 };

static uint64_t Load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

static void Store64(uint8_t* p, uint64_t v)
{
    std::memcpy(p, &v, 8);
}

// Even bytes of a little-endian 64-bit word; on a big-endian host the odd ones.
static uint64_t EvenByteMask()
{
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 1 ? 0x00FF00FF00FF00FFull : 0xFF00FF00FF00FF00ull;
}

// Both pointers stand at the block's first column, which is even. Whole
// words take the even bytes of src and keep the odd bytes of dst.
static void CopyEvenColumns(uint8_t* dst, const uint8_t* src, uint32_t count)
{
    const uint64_t even = EvenByteMask();
    uint32_t c = 0;
    for (; c + 8 <= count; c += 8) Store64(dst + c, (Load64(src + c) & even) | (Load64(dst + c) & ~even));
    for (; c < count; c += 2) dst[c] = src[c];
}

static void XorBytes(uint8_t* dst, const uint8_t* src, uint32_t n)
{
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) Store64(dst + i, Load64(dst + i) ^ Load64(src + i));
    for (; i < n; ++i) dst[i] = static_cast<uint8_t>(dst[i] ^ src[i]);
}

// The key laid over buffer[from..to), starting at `from` with its first byte.
struct KeyStream {
    uint8_t* buffer;
    uint32_t from, to;
    const uint8_t* pattern; // the key repeated, period bytes
    uint32_t period;        // a whole number of key lengths
};

static void XorKeyStream(const KeyStream* k, uint32_t pos, uint32_t count)
{
    uint32_t end = pos + count;
    if (pos < k->from) pos = k->from;
    if (end > k->to) end = k->to;
    if (pos >= end) return;
    uint32_t phase = (pos - k->from) % k->period;
    while (pos < end) {
        const uint32_t n = end - pos < k->period - phase ? end - pos : k->period - phase;
        XorBytes(k->buffer + pos, k->pattern + phase, n);
        pos += n;
        phase = 0;
    }
}

// The same for a block given by its address; nothing without a stream.
static void XorKeyStreamAt(const KeyStream* k, const uint8_t* at, uint32_t count)
{
    if (k) XorKeyStream(k, static_cast<uint32_t>(at - k->buffer), count);
}

// Rotates every even column of the matrix by one row: down (decode) or up.
// Going down, key streams may ride along: `before` is XORed over each block
// of a row just before the rotation reads it, `after` just after it writes
// it, while the block is in the cache.
static void RotateEvenColumns(const Matrix& m, int down, const KeyStream* before, const KeyStream* after)
{
    uint8_t saved[kColumnBlock];
    const uint32_t n = m.columns;
    for (uint32_t c0 = 0; c0 < n; c0 += kColumnBlock) {
        const uint32_t count = n - c0 < kColumnBlock ? n - c0 : uint32_t{kColumnBlock};
        uint8_t* const first = m.base + c0;
        uint8_t* const last = first + static_cast<size_t>(m.rows - 1) * n;
        // The row that leaves one end of the column comes back at the other.
        uint8_t* const leaving = down ? last : first;
        uint8_t* const arriving = down ? first : last;
        XorKeyStreamAt(before, leaving, count);
        CopyEvenColumns(saved, leaving, count);
        if (down) {
            for (uint8_t* row = last; row != first; row -= n) {
                XorKeyStreamAt(before, row - n, count);
                CopyEvenColumns(row, row - n, count);
                XorKeyStreamAt(after, row, count);
            }
        } else {
            for (uint8_t* row = first; row != last; row += n) CopyEvenColumns(row, row + n, count);
        }
        CopyEvenColumns(arriving, saved, count);
        XorKeyStreamAt(after, arriving, count);
    }
}
#endif

void TransposeColumns(uint8_t* buffer, uint32_t length, int32_t offset, int32_t rowParameter)
{
    const Matrix m = MatrixFor(buffer, length, offset, rowParameter);
    if (m.rows != 0) RotateEvenColumns(m, 1, nullptr, nullptr);
}

void UntransposeColumns(uint8_t* buffer, uint32_t length, int32_t offset, int32_t rowParameter)
{
    const Matrix m = MatrixFor(buffer, length, offset, rowParameter);
    if (m.rows != 0) RotateEvenColumns(m, 0, nullptr, nullptr);
}

#ifdef LUMISAFE_COMPACT
void XorWithKey(uint8_t* start, uint32_t length, const char* key, uint32_t keyLength)
{
    if (keyLength == 0) return;
    uint32_t k = 0;
    for (uint32_t i = 0; i < length; ++i) {
        start[i] = static_cast<uint8_t>(start[i] ^ static_cast<uint8_t>(key[k]));
        if (++k == keyLength) k = 0;
    }
}

void UnchainXor(uint8_t* buffer, uint32_t length)
{
    for (uint32_t i = length; i-- > 1;) buffer[i] = static_cast<uint8_t>(buffer[i] ^ buffer[i - 1]);
}
#else
// The key is laid out repeated over a stack block whose length is a whole
// number of key periods, so the XOR runs a word at a time with the pattern
// always starting at the key's first byte. Keys longer than the block are
// XORed a period at a time straight from the key.
enum : uint32_t { kKeyBlock = 2048 };

// Returns the pattern for a payload of `length` bytes, in block or the key
// itself, and its period.
static const uint8_t* KeyPattern(const char* key, uint32_t keyLength, uint32_t length, uint8_t* block,
                                 uint32_t* period)
{
    *period = keyLength;
    if (keyLength > kKeyBlock / 2) return reinterpret_cast<const uint8_t*>(key);
    *period = kKeyBlock / keyLength * keyLength;
    // A short payload needs no more of the pattern than its own length.
    const uint32_t fill = length < *period ? length : *period;
    for (uint32_t i = 0; i < fill; ++i) block[i] = static_cast<uint8_t>(key[i % keyLength]);
    return block;
}

void XorWithKey(uint8_t* start, uint32_t length, const char* key, uint32_t keyLength)
{
    if (keyLength == 0) return;
    uint8_t block[kKeyBlock];
    uint32_t period;
    const uint8_t* const pattern = KeyPattern(key, keyLength, length, block, &period);
    uint32_t done = 0;
    while (length - done >= period) {
        XorBytes(start + done, pattern, period);
        done += period;
    }
    XorBytes(start + done, pattern, length - done);
    SecureWipe(block, sizeof block); // the key, repeated
}

void UnchainXor(uint8_t* buffer, uint32_t length)
{
    // From the end, a word at a time: the word before is still unchanged
    // when it is read, as the byte loop requires.
    uint32_t i = length;
    while (i >= 9) {
        i -= 8;
        Store64(buffer + i, Load64(buffer + i) ^ Load64(buffer + i - 1));
    }
    for (; i-- > 1;) buffer[i] = static_cast<uint8_t>(buffer[i] ^ buffer[i - 1]);
}

#endif

void ChainXor(uint8_t* buffer, uint32_t length)
{
    for (uint32_t i = 1; i < length; ++i) buffer[i] = static_cast<uint8_t>(buffer[i] ^ buffer[i - 1]);
}

int32_t KeyParameter(const char* key, uint32_t i)
{
    return static_cast<int32_t>(static_cast<signed char>(key[i]));
}

#ifndef LUMISAFE_COMPACT
// Over a large payload every step is one pass through memory, and memory
// speed bounds them all. Steps 1 and 2, and steps 6 and 7, are each done in
// one pass: the key XOR is applied to each block of a row just after the
// rotation wrote it (step 2 follows step 1) or just before the rotation reads
// it (step 6 precedes step 7), while the block is still in the cache.

// A key XOR over buffer[from..length) fused with the transposition beside it.
static void TransposeAndXor(uint8_t* buffer, uint32_t length, int32_t offset, int32_t rowParameter,
                            const KeyStream* before, const KeyStream* after)
{
    const Matrix m = MatrixFor(buffer, length, offset, rowParameter);
    const KeyStream* const k = before ? before : after;
    if (m.rows == 0) {
        XorKeyStream(k, 0, length);
        return;
    }
    // The bytes outside the matrix do not move: only the XOR reaches them.
    const uint32_t start = static_cast<uint32_t>(m.base - buffer);
    const uint32_t end = start + m.rows * m.columns;
    XorKeyStream(k, 0, start);
    XorKeyStream(k, end, length - end);
    RotateEvenColumns(m, 1, before, after);
}

int DecipherPayload(uint8_t* buffer, uint32_t length, const char* key, uint32_t keyLength)
{
    if (length < 2 || keyLength < 3) return 0;
    const int32_t k0 = KeyParameter(key, 0), k1 = KeyParameter(key, 1);
    const int32_t k2 = KeyParameter(key, 2), k3 = KeyParameter(key, 3);
    uint8_t block[kKeyBlock];
    KeyStream ks = {buffer, 1, length, nullptr, 0};
    ks.pattern = KeyPattern(key, keyLength, length, block, &ks.period);
    TransposeAndXor(buffer, length, k1, k3, nullptr, &ks);             // steps 1 and 2
    TransposeColumns(buffer, length, k0, k2);                          // step 3
    UnchainXor(buffer, length);                                        // step 4
    TransposeColumns(buffer, length, 2, 2);                            // step 5
    ks.from = 0;
    // Step 7's row count is the first byte as step 6 leaves it.
    const uint8_t first = static_cast<uint8_t>(buffer[0] ^ static_cast<uint8_t>(key[0]));
    TransposeAndXor(buffer, length, 1, first, &ks, nullptr);           // steps 6 and 7
    SecureWipe(block, sizeof block); // the key, repeated
    return 1;
}
#else
int DecipherPayload(uint8_t* buffer, uint32_t length, const char* key, uint32_t keyLength)
{
    if (length < 2 || keyLength < 3) return 0;
    const int32_t k0 = KeyParameter(key, 0), k1 = KeyParameter(key, 1);
    const int32_t k2 = KeyParameter(key, 2), k3 = KeyParameter(key, 3);
    TransposeColumns(buffer, length, k1, k3);
    XorWithKey(buffer + 1, length - 1, key, keyLength);
    TransposeColumns(buffer, length, k0, k2);
    UnchainXor(buffer, length);
    TransposeColumns(buffer, length, 2, 2);
    XorWithKey(buffer, length, key, keyLength);
    TransposeColumns(buffer, length, 1, buffer[0]);
    return 1;
}
#endif
