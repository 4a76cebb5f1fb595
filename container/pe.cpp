#include "pe.h"

#include <cstring>

#include "bytes.h"

namespace {

const size_t kDosLfanewOffset = 0x3C;
const size_t kPeSignatureSize = 4;      // "PE\0\0"
const size_t kCoffHeaderSize = 20;
const size_t kOptionalCheckSum = 64;    // the same in PE32 and PE32+
const size_t kOptionalDirectoriesPe32 = 96;
const size_t kOptionalDirectoriesPe32Plus = 112;
const size_t kOptionalDirectoryCountPe32 = 92;
const size_t kOptionalDirectoryCountPe32Plus = 108;
const uint32_t kCertificateDirectory = 4;
const size_t kDirectoryEntrySize = 8;

} // namespace

int FindPeFields(const uint8_t* image, size_t length, PeFields* fields)
{
    if (length < kDosLfanewOffset + 4 || image[0] != 'M' || image[1] != 'Z') return 0;
    const size_t pe = LoadLE32(image + kDosLfanewOffset);
    if (pe > length || length - pe < kPeSignatureSize + kCoffHeaderSize + 2) return 0;
    if (std::memcmp(image + pe, "PE\0\0", kPeSignatureSize) != 0) return 0;
    const size_t coff = pe + kPeSignatureSize;
    const size_t optionalSize = static_cast<size_t>(image[coff + 16]) | static_cast<size_t>(image[coff + 17]) << 8;
    const size_t optional = coff + kCoffHeaderSize;
    const uint32_t magic = static_cast<uint32_t>(image[optional]) | static_cast<uint32_t>(image[optional + 1]) << 8;
    size_t directories, countAt;
    if (magic == 0x10B) {
        directories = kOptionalDirectoriesPe32;
        countAt = kOptionalDirectoryCountPe32;
    } else if (magic == 0x20B) {
        directories = kOptionalDirectoriesPe32Plus;
        countAt = kOptionalDirectoryCountPe32Plus;
    } else {
        return 0;
    }
    const size_t certEntry = directories + kCertificateDirectory * kDirectoryEntrySize;
    // The header must say it holds the entry, and the file must hold it.
    if (optionalSize < certEntry + kDirectoryEntrySize || optionalSize > length - optional) return 0;
    if (LoadLE32(image + optional + countAt) <= kCertificateDirectory) return 0;
    fields->checkSumOffset = optional + kOptionalCheckSum;
    fields->certEntryOffset = optional + certEntry;
    return 1;
}

int ClearPeFields(uint8_t* image, size_t length)
{
    PeFields f;
    if (!FindPeFields(image, length, &f)) return 0;
    std::memset(image + f.checkSumOffset, 0, kPeCheckSumSize);
    std::memset(image + f.certEntryOffset, 0, kPeCertEntrySize);
    return 1;
}
