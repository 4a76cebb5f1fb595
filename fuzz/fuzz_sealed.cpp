// The sealed form on hostile input. The first byte picks the mode:
//   even: the rest is a sealed payload as found in a file (the iteration
//         count is lowered so a run stays fast); it must never open, and
//         nothing may be read or written outside the buffers;
//   odd:  the rest is a password length, a mutation (offset and XOR value),
//         a password and a plaintext; the plaintext is sealed, one byte of
//         the result or of the marker block changed, and opened again. It
//         opens only when nothing covered was changed, and then to exactly
//         the plaintext: no byte of a chunk whose tag failed is ever used.
//   2 mod 4: the rest is a zstd frame, sealed by the harness under the zstd
//         codec (so every tag passes and the expander is reached), opened,
//         and expanded in small pieces: it ends done or damaged (or refused
//         for its window), never writes past a piece, and never yields more
//         than the frame stated.
#include <cstring>
#include <vector>

#include "container_write.h"
#include "fuzz_common.h"
#include "marker.h"
#include "sealed.h"
#include "sealed_write.h"
#include "zstd_frame.h"

namespace {

const uint32_t kFastIterations = 2;
const uint32_t kChunkShift = 12; // 4 KiB chunks: several in a short input

int Open(std::vector<uint8_t>* payload, const uint8_t* marker, const uint8_t* password, uint32_t passwordLength,
         size_t* plainLength)
{
    std::vector<uint8_t> scratch(size_t{1} << kSealedMaxChunkShift);
    return OpenSealedPayload(payload->data(), payload->size(), marker, password, passwordLength, scratch.data(),
                             scratch.size(), plainLength);
}

void RawPayload(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> payload(data, data + size); // exact size: reads past it are caught
    SealedHeader h;
    const int parsed = ParseSealedHeader(payload.data(), payload.size(), &h);
    FUZZ_CHECK(parsed == kSealedOk || parsed == kSealedNewer || parsed == kSealedDamaged);
    if (parsed == kSealedOk) {
        const uint32_t iterations = 1 + payload[8] % 4;
        std::memcpy(payload.data() + 8, &iterations, 4); // little-endian hosts only
    }
    uint8_t marker[kMarkerBlockSize] = {0};
    size_t plainLength = 0;
    const int rc = Open(&payload, marker, reinterpret_cast<const uint8_t*>("pw"), 2, &plainLength);
    FUZZ_CHECK(rc != kSealedOk && rc != kSealedFailed);
}

void SealChangeOpen(const uint8_t* data, size_t size)
{
    if (size < 5) return;
    const uint32_t passwordLength = data[0] % 32;
    const uint32_t offset = static_cast<uint32_t>(data[1]) << 8 | data[2];
    const uint8_t change = data[3];
    data += 4;
    size -= 4;
    if (size <= passwordLength) return;
    const uint8_t* password = data;
    const uint8_t* plain = data + passwordLength;
    const size_t plainLength = size - passwordLength;

    uint8_t marker[kMarkerBlockSize];
    const MarkerFields fields = {"caption", 7, 0, 2, 1, 0, kFormSealed};
    FillMarkerBlock(marker, &fields);
    std::vector<uint8_t> sealed(SealedPayloadSize(plainLength, kChunkShift));
    size_t sealedLength = 0;
    FUZZ_CHECK(SealPayload(plain, plainLength, marker, password, passwordLength, kFastIterations, kChunkShift,
                           sealed.data(), sealed.size(), &sealedLength) == kSealedOk);
    FUZZ_CHECK(sealedLength == sealed.size());

    // The change falls on the marker block (its first 256 offsets) or the payload.
    size_t at = offset % (kMarkerBlockSize + sealed.size());
    // The iteration count's high bytes would make the derivation take
    // minutes: those changes go to its low byte (a count of at most 257).
    if (at >= kMarkerBlockSize + 9 && at < kMarkerBlockSize + 12) at = kMarkerBlockSize + 8;
    const bool inMarker = at < kMarkerBlockSize;
    if (inMarker) marker[at] ^= change;
    else sealed[at - kMarkerBlockSize] ^= change;
    const bool covered = change != 0 && !(inMarker && at >= kMarkerOffsetIntegritySum && at < kMarkerBlockSize - 1);

    size_t openedLength = 0;
    const int rc = Open(&sealed, marker, password, passwordLength, &openedLength);
    if (!covered) {
        FUZZ_CHECK(rc == kSealedOk);
    } else {
        FUZZ_CHECK(rc != kSealedOk && rc != kSealedFailed);
    }
    if (rc == kSealedOk) {
        FUZZ_CHECK(openedLength == plainLength);
        FUZZ_CHECK(std::memcmp(sealed.data(), plain, plainLength) == 0);
    }
}

void SealedZstd(const uint8_t* data, size_t size)
{
    if (size == 0) return;
    uint8_t marker[kMarkerBlockSize];
    const MarkerFields fields = {"caption", 7, 0, 2, 1, 0, kFormSealed};
    FillMarkerBlock(marker, &fields);
    std::vector<uint8_t> sealed(SealedPayloadSize(size, kChunkShift));
    std::memcpy(sealed.data(), data, size);
    const SealedCoding coding = {kSealedCodecZstd, 9};
    size_t sealedLength = 0;
    const uint8_t* password = reinterpret_cast<const uint8_t*>("pw");
    FUZZ_CHECK(SealPayloadInPlaceCoded(sealed.data(), size, sealed.size(), marker, password, 2, kFastIterations,
                                       kChunkShift, &coding, nullptr, nullptr, &sealedLength) == kSealedOk);
    SealedHeader h;
    FUZZ_CHECK(ParseSealedHeader(sealed.data(), sealed.size(), &h) == kSealedOk && h.codec == kSealedCodecZstd);
    size_t plainLength = 0;
    FUZZ_CHECK(Open(&sealed, marker, password, 2, &plainLength) == kSealedOk && plainLength == size);
    sealed.resize(plainLength); // exact size: reads past the frame are caught

    ZstdExpander e;
    if (ZstdExpandBegin(&e, sealed.data(), sealed.size(), 1u << 24) != kZstdMore) {
        FUZZ_CHECK(e.status == kZstdDamaged || e.status == kZstdNewer);
        return;
    }
    std::vector<uint8_t> piece(1 + data[0] % 200); // exact size, as above
    uint64_t produced = 0;
    while (e.status == kZstdMore) {
        const uint32_t n = ZstdExpandSome(&e, piece.data(), static_cast<uint32_t>(piece.size()));
        FUZZ_CHECK(n <= piece.size());
        produced += n;
        FUZZ_CHECK(produced <= e.contentSize);
    }
    FUZZ_CHECK(e.status == kZstdDone || e.status == kZstdDamaged);
    if (e.status == kZstdDone) FUZZ_CHECK(produced == e.contentSize);
    ZstdExpandEnd(&e);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    if (data[0] % 4 == 2) SealedZstd(data + 1, size - 1);
    else if (data[0] % 2 == 0) RawPayload(data + 1, size - 1);
    else SealChangeOpen(data + 1, size - 1);
    return 0;
}
