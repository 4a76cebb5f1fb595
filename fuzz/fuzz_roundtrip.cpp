// Compress then decompress, and encipher then decipher, must give back the
// input; so must the decode steps done one at a time. The first bytes choose
// the password.
#include <cstring>
#include <memory>
#include <vector>

#include "cipher_steps.h"
#include "fuzz_common.h"
#include "lzap.h"
#include "lzap_encode.h"

static LzapDecoder decoder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 20)) return 0;
    const size_t passwordLength = data[0] % 16 < size ? data[0] % 16 : size - 1;
    const std::string key = FuzzKey(std::string(reinterpret_cast<const char*>(data + 1), passwordLength));
    const std::vector<uint8_t> input(data + 1 + passwordLength, data + size);

    static LzapEncoder* encoder = LzapEncoderCreate();
    LzapEncoderSetLazy(encoder, data[0] >> 7); // both parses must decode
    std::vector<uint8_t> stream(LzapCompressBound(static_cast<uint32_t>(input.size())));
    stream.resize(LzapCompress(encoder, input.data(), static_cast<uint32_t>(input.size()), stream.data(),
                               stream.size(), nullptr, nullptr));
    FUZZ_CHECK(stream.size() >= 8);
    std::vector<uint8_t> out(input.size() + 128);
    FUZZ_CHECK(LzapDecodeBegin(&decoder, stream.data(), static_cast<uint32_t>(stream.size())));
    uint32_t n = 0;
    while (decoder.status == kLzapMore)
        n += LzapDecodeSome(&decoder, out.data() + n, static_cast<uint32_t>(out.size() - n));
    FUZZ_CHECK(decoder.status == kLzapDone && n == input.size());
    FUZZ_CHECK(input.empty() || std::memcmp(out.data(), input.data(), input.size()) == 0);

    if (input.size() >= 2) {
        std::vector<uint8_t> buffer = input;
        const char* const k = key.c_str();
        const uint32_t kl = static_cast<uint32_t>(key.size());
        const uint32_t n = static_cast<uint32_t>(buffer.size());
        EncipherPayload(buffer.data(), n, k, kl);
        // The decoder fuses some of its steps; the steps one by one must agree.
        std::vector<uint8_t> steps = buffer;
        DecipherStepByStep(steps.data(), n, k, kl);
        DecipherPayload(buffer.data(), n, k, kl);
        FUZZ_CHECK(buffer == input);
        FUZZ_CHECK(steps == input);
    }
    return 0;
}
