// The payload cipher: a key string made from the password and seven in-place
// steps of column transpositions, key XORs and a chained XOR.
#ifndef LUMISAFE_CONTAINER_CIPHER_H
#define LUMISAFE_CONTAINER_CIPHER_H

#include <cstddef>
#include <cstdint>

// Room a key-string buffer needs beyond the password: the decimal length
// (at most 10 digits for a 32-bit count) and the zero byte.
enum : uint32_t { kKeyStringSlack = 64 };

// Writes the password followed by its length in at least three decimal digits
// ("%03d") and a zero byte into key (capacity keyCapacity bytes). Returns the
// key string's length (never below 3), or 0 when it does not fit.
uint32_t BuildKeyString(const uint8_t* password, uint32_t passwordLength, char* key,
                        uint32_t keyCapacity);

// One column transposition over buffer[0..length): the bytes from `offset` on
// form a matrix of rowParameter + 7 rows stored row after row, and every even
// column is rotated down by one row. A transposition without a whole column,
// with 0 rows or with a negative offset changes nothing, on both sides, so any
// password gives a cipher that the encoder and the decoder agree on.
void TransposeColumns(uint8_t* buffer, uint32_t length, int32_t offset, int32_t rowParameter);
// The inverse: every even column rotated up by one row.
void UntransposeColumns(uint8_t* buffer, uint32_t length, int32_t offset, int32_t rowParameter);

// XORs length bytes from start with the key string (without its zero byte),
// repeated from its first byte.
void XorWithKey(uint8_t* start, uint32_t length, const char* key, uint32_t keyLength);

// Chained XOR, decode direction: buffer[i] ^= old buffer[i - 1], i from the end.
void UnchainXor(uint8_t* buffer, uint32_t length);
// Its inverse: each byte becomes the XOR of all bytes up to it.
void ChainXor(uint8_t* buffer, uint32_t length);

// Key string byte i (0 to 3) as a signed step parameter. A key string is at
// least three bytes and zero-terminated, so byte 3 is always readable; for an
// empty password it is the terminator and reads 0.
int32_t KeyParameter(const char* key, uint32_t i);

// The seven decode steps, in place. Returns 0 (nothing changed) for a payload
// shorter than 2 bytes, which no valid file has.
int DecipherPayload(uint8_t* buffer, uint32_t length, const char* key, uint32_t keyLength);
// The encoder's inverse of DecipherPayload.
int EncipherPayload(uint8_t* buffer, uint32_t length, const char* key, uint32_t keyLength);

#endif
