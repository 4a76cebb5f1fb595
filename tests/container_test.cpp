// A whole self-decoding file built in memory and decoded the way the stub
// decodes it: marker, integrity sum, decipher, decompress, record.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cipher.h"
#include "container_write.h"
#include "bytes.h"
#include "integrity.h"
#include "layout.h"
#include "lzap.h"
#include "marker.h"
#include "record.h"
#include "record_write.h"
#include "testdata.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string KeyFor(const std::string& password)
{
    std::vector<char> buf(password.size() + kKeyStringSlack);
    const uint32_t n = BuildKeyString(reinterpret_cast<const uint8_t*>(password.data()),
                                      static_cast<uint32_t>(password.size()), buf.data(),
                                      static_cast<uint32_t>(buf.size()));
    return std::string(buf.data(), n);
}

Bytes Build(const Bytes& content, const std::string& password, int store, const char* name = "data.bin")
{
    Bytes record(305 + content.size());
    RecordHeader h = {};
    h.contentLength = static_cast<uint32_t>(content.size());
    std::strcpy(h.fileName, name);
    WriteRecordHeader(record.data(), &h, content.data());
    if (!content.empty()) std::memcpy(record.data() + 305, content.data(), content.size());

    const std::string key = KeyFor(password);
    Bytes payload(PayloadBound(static_cast<uint32_t>(record.size())));
    std::unique_ptr<LzapEncoder, void (*)(LzapEncoder*)> enc(LzapEncoderCreate(), LzapEncoderDestroy);
    const size_t n = EncodePayload(enc.get(), record.data(), static_cast<uint32_t>(record.size()), store,
                                   key.c_str(), static_cast<uint32_t>(key.size()), payload.data(),
                                   payload.size(), nullptr, nullptr);
    payload.resize(n);

    Bytes stub(1024, 0x90);
    Bytes file = stub;
    uint8_t block[256];
    MarkerFields f = {"\"data.bin\" decode", 17, 1, 2, 1, 0};
    WriteMarkerBlock(block, &f, stub.data(), stub.size(), payload.data(), payload.size());
    file.insert(file.end(), block, block + 256);
    file.insert(file.end(), payload.begin(), payload.end());
    return file;
}

enum Outcome { kGood, kNoMarker, kTampered, kWrong };

// What the stub does with a file and a password, minus the dialogs.
Outcome Decode(const Bytes& file, const std::string& password, Bytes* content)
{
    const size_t marker = FindMarkerInBuffer(file.data(), file.size());
    if (marker == file.size()) return kNoMarker;
    MarkerSettings s;
    ReadMarkerSettings(file.data() + marker, &s);
    uint8_t lanes[16];
    const size_t payloadOffset = marker + 256;
    ComputeIntegritySum(file.data(), marker, file.data() + payloadOffset, file.size() - payloadOffset, lanes);
    if (!IntegritySumsEqual(lanes, s.integritySum)) return kTampered;

    const std::string key = KeyFor(password);
    MemBlock block;
    const uint32_t length = static_cast<uint32_t>(file.size() - payloadOffset);
    if (!MemBlockAlloc(&block, length)) return kWrong;
    if (length) std::memcpy(block.address, file.data() + payloadOffset, length);
    static LzapDecoder decoder;
    Outcome result = kWrong;
    RecordHeader h;
    if (DecipherPayload(block.address, block.size, key.c_str(), static_cast<uint32_t>(key.size())) &&
        Decompress(&decoder, &block) && ReadRecord(block.address, block.size, &h) == kRecordOk) {
        content->assign(block.address + 305, block.address + 305 + h.contentLength);
        result = kGood;
    }
    MemBlockFree(&block);
    return result;
}

TEST(Container, RoundTripsAcrossSizesPasswordsAndForms)
{
    const std::string passwords[] = {"", "pw", "\x82\xA0\x82\xA2", std::string(300, 'k'), "\xF9\xFA\xF9\xFA"};
    const Bytes contents[] = {{}, {'x'}, testdata::Text(1000), testdata::Binary(70000), testdata::Random(5000)};
    for (const std::string& pw : passwords)
        for (const Bytes& c : contents)
            for (int store = 0; store < 2; ++store) {
                const Bytes file = Build(c, pw, store);
                Bytes out;
                ASSERT_EQ(Decode(file, pw, &out), kGood) << pw.size() << "/" << c.size() << "/" << store;
                EXPECT_TRUE(out == c);
                // The cipher uses no more of the key string than the payload
                // is long, so the wrong password differs at its first byte.
                EXPECT_EQ(Decode(file, "x" + pw, &out), kWrong) << pw.size() << "/" << c.size() << "/" << store;
            }
}

TEST(Container, IncompressibleRecordIsStored)
{
    const Bytes c = testdata::Random(100000);
    const Bytes file = Build(c, "pw", 0);
    // Stub, marker block, and a stored record of exactly 305 + content bytes.
    EXPECT_EQ(file.size(), 1024u + 256u + 305u + c.size());
}

TEST(Container, TamperedAndMarkerlessFiles)
{
    const Bytes file = Build(testdata::Text(3000), "pw", 0);
    Bytes out;
    Bytes stubByte = file;
    stubByte[100] ^= 1;
    EXPECT_EQ(Decode(stubByte, "pw", &out), kTampered);
    Bytes payloadByte = file;
    payloadByte[1280 + 17] ^= 1;
    EXPECT_EQ(Decode(payloadByte, "pw", &out), kTampered);
    Bytes caption = file;
    caption[1024 + 40] ^= 1; // the marker block is not summed
    EXPECT_EQ(Decode(caption, "pw", &out), kGood);
    Bytes noMarker = file;
    noMarker[1024 + 13] = 'x';
    EXPECT_EQ(Decode(noMarker, "pw", &out), kNoMarker);
}

TEST(Container, EveryTruncationFailsCleanly)
{
    const Bytes file = Build(testdata::Text(600), "pw", 0);
    for (size_t n = 0; n < file.size(); ++n) {
        const Bytes cut(file.begin(), file.begin() + static_cast<long>(n));
        Bytes out;
        EXPECT_NE(Decode(cut, "pw", &out), kGood) << n;
    }
}

TEST(Container, ReenciphereedMutationsNeverEscape)
{
    // Mutate the plaintext, encipher it again and fix the sum, so the damage
    // reaches the decompressor and the record rather than the sum check.
    const Bytes content = testdata::Text(4000);
    Bytes record(305 + content.size());
    RecordHeader h = {};
    h.contentLength = static_cast<uint32_t>(content.size());
    std::strcpy(h.fileName, "m.txt");
    WriteRecordHeader(record.data(), &h, content.data());
    std::memcpy(record.data() + 305, content.data(), content.size());
    std::unique_ptr<LzapEncoder, void (*)(LzapEncoder*)> enc(LzapEncoderCreate(), LzapEncoderDestroy);
    Bytes stream(LzapCompressBound(static_cast<uint32_t>(record.size())));
    stream.resize(LzapCompress(enc.get(), record.data(), static_cast<uint32_t>(record.size()), stream.data(),
                               stream.size(), nullptr, nullptr));
    const std::string key = KeyFor("pw");
    testdata::Rng r(5);
    for (int i = 0; i < 400; ++i) {
        Bytes mutated = stream;
        const int flips = 1 + static_cast<int>(r.Below(4));
        for (int k = 0; k < flips; ++k) mutated[r.Below(static_cast<uint32_t>(mutated.size()))] ^= static_cast<uint8_t>(1u << r.Below(8));
        EncipherPayload(mutated.data(), static_cast<uint32_t>(mutated.size()), key.c_str(), static_cast<uint32_t>(key.size()));
        Bytes stub(256, 0);
        Bytes file = stub;
        uint8_t block[256];
        MarkerFields f = {"", 0, 0, 0, 0, 0};
        WriteMarkerBlock(block, &f, stub.data(), stub.size(), mutated.data(), mutated.size());
        file.insert(file.end(), block, block + 256);
        file.insert(file.end(), mutated.begin(), mutated.end());
        Bytes out;
        const Outcome o = Decode(file, "pw", &out);
        if (o == kGood) EXPECT_EQ(out.size(), content.size()); // only a check-passing content
    }
}

} // namespace

// A file of 4096 bytes: marker at 1024, so the payload starts at 1280. Each
// row: the stated length, the certificate entry, and what a reader decides.
TEST(Layout, WhatMayFollowThePayload)
{
    const uint32_t kFile = 4096, kMarker = 1024, kPayload = kMarker + 256;
    struct Row {
        const char* what;
        uint32_t stated, certOffset, certSize;
        int ok;
        uint32_t payloadLength, padding;
    } rows[] = {
        {"older file: to the end", 0, 0, 0, 1, kFile - kPayload, 0},
        {"older file with a signature", 0, 4000, 96, 0, 0, 0},
        {"stated, nothing after", kFile - kPayload, 0, 0, 1, kFile - kPayload, 0},
        {"stated, signature removed (7 bytes of padding)", kFile - kPayload - 7, 0, 0, 1, kFile - kPayload - 7, 7},
        {"stated, 8 bytes after and no signature", kFile - kPayload - 8, 0, 0, 0, 0, 0},
        {"cut short: what is left", kFile, 0, 0, 1, kFile - kPayload, 0},
        // 1813 bytes of payload end at 3093; a table at 3096 has 3 bytes of padding.
        {"signed, 3 bytes of padding", 1813, 3096, 1000, 1, 1813, 3},
        {"signed, no padding, the smallest table", 2808, 4088, 8, 1, 2808, 0},
        {"signed, table into the payload", 1813, 3088, 1008, 0, 0, 0},
        {"signed, table into the stub", 1813, 512, 4096 - 512, 0, 0, 0},
        {"signed, table short of the end", 1813, 3096, 992, 0, 0, 0},
        {"signed, table past the end", 1813, 3096, 1008, 0, 0, 0},
        {"signed, table not 8-aligned", 1812, 3092, 1004, 0, 0, 0},
        {"signed, 8 bytes of padding", 1808, 3096, 1000, 0, 0, 0},
        {"signed, a 4-byte table", 2812, 4092, 4, 0, 0, 0},
        {"signed, cut short", kFile, 3096, 1000, 0, 0, 0},
        {"entry size wraps", 1813, 3096, 0xFFFFFFFFu, 0, 0, 0},
    };
    for (const Row& r : rows) {
        uint8_t marker[256] = {};
        StoreLE32(marker + kMarkerOffsetPayloadLength, r.stated);
        PayloadExtent e;
        const int ok = ResolvePayloadExtent(kFile, kMarker, marker, r.certOffset, r.certSize, &e);
        EXPECT_EQ(ok, r.ok) << r.what;
        if (!ok || !r.ok) continue;
        EXPECT_EQ(e.payloadLength, r.payloadLength) << r.what;
        EXPECT_EQ(e.paddingLength, r.padding) << r.what;
    }
}
