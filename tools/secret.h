// A password's bytes in one buffer whose capacity is fixed when it is made:
// it never grows (a growing string leaves its old buffers behind, unwiped),
// it cannot be copied, and it is wiped when it is cleared or goes away.
#ifndef LUMISAFE_TOOLS_SECRET_H
#define LUMISAFE_TOOLS_SECRET_H

#include <cstddef>
#include <cstdint>
#include <memory>

enum : size_t {
    // The decoder's password field takes 4095 characters; as UTF-8 each may
    // need 4 bytes. Longer input is refused, never cut.
    kSecretCapacity = 4 * 4096,
    // What the decoder's password field holds, in bytes of its code page.
    kDecoderPasswordMax = 4095,
};

struct Secret {
    explicit Secret(size_t capacity = kSecretCapacity);
    ~Secret();
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;

    uint8_t* bytes = nullptr;
    size_t length = 0;
    size_t capacity = 0;
};

// Appends n bytes; false (and nothing appended) when they would not fit.
bool SecretAppend(Secret* s, const void* p, size_t n);
// Wipes the whole buffer and empties it.
void SecretClear(Secret* s);
bool SecretEqual(const Secret& a, const Secret& b);
// The password as bytes of a Windows code page, what a user of the file types:
// codepage 1252 or 932, or kCodepageAuto for 1252 when every character fits
// and 932 otherwise. False when the chosen code page cannot hold it.
bool PasswordInCodepage(const Secret& typed, int codepage, Secret* out);
inline const char* SecretText(const Secret& s) { return reinterpret_cast<const char*>(s.bytes); }

// While a password is held, the process must not be dumped (a core file, a
// crash report's memory) nor be read by other processes of the same user
// where the system allows it to refuse. Lasts until the process ends.
void ProtectProcessMemory();

#endif
