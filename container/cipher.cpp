#include "cipher.h"

#include <cstring>

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

// The rotation is done row by row over blocks of columns, so memory is read
// and written sequentially instead of striding down each column; only one
// block of the saved row lives on the stack.
enum : uint32_t { kColumnBlock = 2048 };

// Both pointers stand at the block's first column, which is even.
static void CopyEvenColumns(uint8_t* dst, const uint8_t* src, uint32_t count)
{
    for (uint32_t c = 0; c < count; c += 2) dst[c] = src[c];
}

void TransposeColumns(uint8_t* buffer, uint32_t length, int32_t offset, int32_t rowParameter)
{
    const Matrix m = MatrixFor(buffer, length, offset, rowParameter);
    if (m.rows == 0) return;
    uint8_t saved[kColumnBlock];
    const uint32_t n = m.columns;
    for (uint32_t c0 = 0; c0 < n; c0 += kColumnBlock) {
        const uint32_t c1 = n - c0 < kColumnBlock ? n : c0 + kColumnBlock;
        const uint32_t count = c1 - c0;
        uint8_t* const first = m.base + c0;
        uint8_t* const last = first + static_cast<size_t>(m.rows - 1) * n;
        CopyEvenColumns(saved, last, count);
        for (uint8_t* row = last; row != first; row -= n) CopyEvenColumns(row, row - n, count);
        CopyEvenColumns(first, saved, count);
    }
}

void UntransposeColumns(uint8_t* buffer, uint32_t length, int32_t offset, int32_t rowParameter)
{
    const Matrix m = MatrixFor(buffer, length, offset, rowParameter);
    if (m.rows == 0) return;
    uint8_t saved[kColumnBlock];
    const uint32_t n = m.columns;
    for (uint32_t c0 = 0; c0 < n; c0 += kColumnBlock) {
        const uint32_t c1 = n - c0 < kColumnBlock ? n : c0 + kColumnBlock;
        const uint32_t count = c1 - c0;
        uint8_t* const first = m.base + c0;
        uint8_t* const last = first + static_cast<size_t>(m.rows - 1) * n;
        CopyEvenColumns(saved, first, count);
        for (uint8_t* row = first; row != last; row += n) CopyEvenColumns(row, row + n, count);
        CopyEvenColumns(last, saved, count);
    }
}

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

void ChainXor(uint8_t* buffer, uint32_t length)
{
    for (uint32_t i = 1; i < length; ++i) buffer[i] = static_cast<uint8_t>(buffer[i] ^ buffer[i - 1]);
}

int32_t KeyParameter(const char* key, uint32_t i)
{
    return static_cast<int32_t>(static_cast<signed char>(key[i]));
}

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
