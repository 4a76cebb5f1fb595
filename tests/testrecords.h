// Decoded records and compressed streams made the encoder's way, for the
// generators of seed and test files.
#ifndef LUMISAFE_TESTS_TESTRECORDS_H
#define LUMISAFE_TESTS_TESTRECORDS_H

#include <cstdint>
#include <cstring>
#include <vector>

#include "lzap_encode.h"
#include "record_write.h"

namespace testrecords {

// A record with fixed times, serial 00ABC123 and creation time 1234567890.
inline std::vector<uint8_t> Record(const char* name, const std::vector<uint8_t>& content, uint32_t attributes = 0x20)
{
    std::vector<uint8_t> r(305 + content.size());
    RecordHeader h = {};
    h.contentLength = static_cast<uint32_t>(content.size());
    h.attributes = attributes;
    h.creationTime = 127000000000000000ull;
    h.lastAccessTime = 127000000010000000ull;
    h.lastWriteTime = 127000000020000000ull;
    std::memcpy(h.fileName, name, std::strlen(name));
    h.encoderSerial = 0x00ABC123;
    h.createdAt = 1234567890;
    WriteRecordHeader(r.data(), &h, content.data());
    if (!content.empty()) std::memcpy(r.data() + 305, content.data(), content.size());
    return r;
}

inline std::vector<uint8_t> Compress(const std::vector<uint8_t>& in)
{
    static LzapEncoder* e = LzapEncoderCreate();
    std::vector<uint8_t> out(LzapCompressBound(static_cast<uint32_t>(in.size())));
    out.resize(LzapCompress(e, in.data(), static_cast<uint32_t>(in.size()), out.data(), out.size(), nullptr, nullptr));
    return out;
}

} // namespace testrecords

#endif
