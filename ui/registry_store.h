// The per-user registry store: one saved password, and a name and a decode
// count per encoding machine. Every failure is silent.
#ifndef LUMISAFE_UI_REGISTRY_STORE_H
#define LUMISAFE_UI_REGISTRY_STORE_H

#include <cstdint>

#include "decode_file.h"

enum : uint32_t { kSavedPasswordSize = 4096, kEncoderNameSize = 128 };

// A saved password is kept encrypted for this user by Windows' data
// protection (CryptProtectData), never in plain text. fileId names whose it
// is: null for the one value every classic file shares, else a sealed file's
// own (kFileIdBytes, from its salt: SealedFileId), which no other file is offered. A
// plain value an older version left is moved into the protected one first.
// 1. Fills password (4096 bytes) and returns 1 when a saved one exists.
int LoadSavedPassword(const uint8_t* fileId, char* password);
// 2. Saves length bytes of password; nothing where Windows cannot protect it.
void SavePassword(const uint8_t* fileId, const char* password, uint32_t length);
// 3. Removes the saved password; the key stays.
void ForgetPassword(const uint8_t* fileId);
// 4. name (128 bytes) and count start empty and 0; either is filled when stored.
void LoadEncoderRecord(uint32_t serial, char* name, uint32_t* count);
// 5. Writes the name and count + 1 for the serial.
void StoreEncoderRecord(uint32_t serial, const char* name, uint32_t count);

#endif
