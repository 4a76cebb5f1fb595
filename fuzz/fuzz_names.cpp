// The stored-name sanitiser: whatever the stored bytes, the result is one
// safe file name component.
#include <cstring>
#include <string>

#include "codepage.h"
#include "fuzz_common.h"
#include "names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 300) return 0;
    const int codepage = data[0] % 3 == 0 ? kCodepageAuto : data[0] % 3 == 1 ? kCodepage932 : kCodepage1252;
    const std::string stored(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string name = SafeOutputName(stored, codepage);
    FUZZ_CHECK(!name.empty() && name.size() <= 255);
    FUZZ_CHECK(name != "." && name != "..");
    FUZZ_CHECK(name.back() != '.' && name.back() != ' ');
    FUZZ_CHECK(IsValidUtf8(name));
    for (unsigned char c : name) {
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
        FUZZ_CHECK(std::strchr("/\\:<>\"|?*", c) == nullptr);
    }
    return 0;
}
