// Shared pieces of the fuzz targets.
#ifndef LUMISAFE_FUZZ_COMMON_H
#define LUMISAFE_FUZZ_COMMON_H

#include <cstdint>
#include <cstdlib>
#include <string>

#include "cipher.h"

// A failed check ends the run the way a sanitizer finding would.
#define FUZZ_CHECK(cond)                                                                                  \
    do {                                                                                                  \
        if (!(cond)) __builtin_trap();                                                                    \
    } while (0)

inline std::string FuzzKey(const std::string& password)
{
    std::string key(password.size() + kKeyStringSlack, '\0');
    const uint32_t n = BuildKeyString(reinterpret_cast<const uint8_t*>(password.data()),
                                      static_cast<uint32_t>(password.size()), &key[0],
                                      static_cast<uint32_t>(key.size()));
    key.resize(n);
    return key;
}

#endif
