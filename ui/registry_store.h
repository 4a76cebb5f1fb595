// The per-user registry store: one saved password, and a name and a decode
// count per encoding machine. Every failure is silent.
#ifndef LUMISAFE_UI_REGISTRY_STORE_H
#define LUMISAFE_UI_REGISTRY_STORE_H

#include <cstdint>

enum : uint32_t { kSavedPasswordSize = 4096, kEncoderNameSize = 128 };

// 1. Fills password (4096 bytes) and returns 1 when a saved one exists.
int LoadSavedPassword(char* password);
// 2. Saves length bytes of password, without a terminator.
void SavePassword(const char* password, uint32_t length);
// 3. Removes the saved password; the key stays.
void ForgetPassword();
// 4. name (128 bytes) and count start empty and 0; either is filled when stored.
void LoadEncoderRecord(uint32_t serial, char* name, uint32_t* count);
// 5. Writes the name and count + 1 for the serial.
void StoreEncoderRecord(uint32_t serial, const char* name, uint32_t count);

#endif
