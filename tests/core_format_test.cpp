// The fixed points of the format: marker search, integrity sum, key strings,
// the cipher's transforms and the record header.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cipher.h"
#include "cipher_steps.h"
#include "container_write.h"
#include "integrity.h"
#include "marker.h"
#include "record.h"
#include "record_write.h"
#include "testdata.h"

namespace {

std::vector<uint8_t> MarkerPiece()
{
    std::vector<uint8_t> piece(256, 0);
    BuildMarkerText(reinterpret_cast<char*>(piece.data()));
    return piece;
}

TEST(Marker, TextIsBuiltFromPieces)
{
    char text[32];
    BuildMarkerText(text);
    EXPECT_STREQ(text, "\\decode\\self\\");
}

TEST(Marker, FoundOnlyAtWholePiecesWithZeroByte)
{
    const std::vector<uint8_t> marker = MarkerPiece();
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        size_t expected;
    };
    std::vector<uint8_t> stub(512, 0x41);
    auto cat = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    std::vector<uint8_t> nonzero13 = marker;
    nonzero13[13] = 'x';
    std::vector<uint8_t> misaligned(300, 0);
    const std::vector<uint8_t> tail(100, 7);
    std::vector<uint8_t> shortLast(marker.begin(), marker.begin() + 100);
    std::vector<uint8_t> upper = marker;
    upper[1] = 'D';
    const Case cases[] = {
        {"after stub", cat(stub, marker), 512},
        {"first of two counts", cat(cat(cat(stub, marker), tail), marker), 512},
        {"nonzero byte 13", cat(cat(stub, nonzero13), tail), 512 + 256 + 100},
        {"stub not multiple of 256", cat(misaligned, marker), 556},
        {"short final piece", cat(stub, shortLast), 612},
        {"case matters", cat(stub, upper), 768},
        {"empty file", {}, 0},
        {"marker at offset 0", marker, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindMarkerInBuffer(c.file.data(), c.file.size()), c.expected) << c.what;
}

TEST(Marker, SettingsAreSignWidenedAndCaptionBounded)
{
    std::vector<uint8_t> block = MarkerPiece();
    block[16] = 0xFF;
    block[17] = 0x01; // the byte after a flag is never part of it
    block[18] = 3;
    block[20] = 0x80;
    block[22] = 1;
    std::memset(block.data() + 32, 'C', 207); // no terminator before 239
    for (int j = 0; j < 16; ++j) block[239 + j] = static_cast<uint8_t>(j + 1);
    block[255] = 0x99;
    MarkerSettings s;
    ReadMarkerSettings(block.data(), &s);
    EXPECT_EQ(s.openAfterDecode, -1);
    EXPECT_EQ(s.selfDeleteMode, 3);
    EXPECT_EQ(s.allowSavePassword, -128);
    EXPECT_EQ(s.showEncoderInfo, 1);
    EXPECT_EQ(std::strlen(s.dialogCaption), 207u);
    EXPECT_EQ(s.integritySum[0], 1);
    EXPECT_EQ(s.integritySum[15], 16);

    block[32 + 206] = 0; // a 206-byte caption ends at offset 238
    ReadMarkerSettings(block.data(), &s);
    EXPECT_EQ(std::strlen(s.dialogCaption), 206u);
    block[32] = 0;
    ReadMarkerSettings(block.data(), &s);
    EXPECT_STREQ(s.dialogCaption, "");
}

std::vector<uint8_t> Hex(const char* text)
{
    std::vector<uint8_t> out;
    for (const char* p = text; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoul(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return out;
}

TEST(Integrity, WorkedExamples)
{
    std::vector<uint8_t> stub(256);
    for (int k = 0; k < 256; ++k) stub[k] = static_cast<uint8_t>(k);
    struct Case {
        const char* payload;
        const char* sum;
    } cases[] = {
        {"abcdefghijklmnopq", "E1 F2 03 14 25 36 47 58 69 7A 8B 9C AD BE CF E0"},
        {"abc", "80 90 A0 B0 C0 D0 E0 F0 00 10 20 30 40 50 60 70"},
        {"", "80 90 A0 B0 C0 D0 E0 F0 00 10 20 30 40 50 60 70"},
    };
    for (const Case& c : cases) {
        uint8_t lanes[16];
        ComputeIntegritySum(stub.data(), stub.size(), reinterpret_cast<const uint8_t*>(c.payload),
                            std::strlen(c.payload), lanes);
        EXPECT_EQ(std::vector<uint8_t>(lanes, lanes + 16), Hex(c.sum)) << c.payload;
    }
}

TEST(Integrity, LastPartialGroupIsNotSummedAndChunkingDoesNotMatter)
{
    std::vector<uint8_t> payload(85212);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 131 + 7);
    uint8_t whole[16];
    ComputeIntegritySum(nullptr, 0, payload.data(), payload.size(), whole);

    // The same sum from 256-byte pieces, as the launch stage reads.
    uint8_t pieces[16] = {0};
    for (size_t off = 0; off < payload.size(); off += 256)
        AddIntegrityLanes(pieces, payload.data() + off, std::min<size_t>(256, payload.size() - off));
    EXPECT_EQ(0, std::memcmp(whole, pieces, 16));

    // A reference byte-at-a-time sum.
    uint8_t ref[16] = {0};
    for (size_t i = 0; i < payload.size() / 16 * 16; ++i) ref[i % 16] = static_cast<uint8_t>(ref[i % 16] + payload[i]);
    EXPECT_EQ(0, std::memcmp(whole, ref, 16));

    for (size_t i = payload.size() - 12; i < payload.size(); ++i) payload[i] ^= 0x5A;
    uint8_t changed[16];
    ComputeIntegritySum(nullptr, 0, payload.data(), payload.size(), changed);
    EXPECT_TRUE(IntegritySumsEqual(whole, changed));
    payload[payload.size() - 13] ^= 1;
    ComputeIntegritySum(nullptr, 0, payload.data(), payload.size(), changed);
    EXPECT_FALSE(IntegritySumsEqual(whole, changed));
}

std::string Key(const std::string& password)
{
    std::vector<char> buf(password.size() + kKeyStringSlack);
    const uint32_t n = BuildKeyString(reinterpret_cast<const uint8_t*>(password.data()),
                                      static_cast<uint32_t>(password.size()), buf.data(),
                                      static_cast<uint32_t>(buf.size()));
    EXPECT_EQ(n, std::strlen(buf.data()));
    return std::string(buf.data(), n);
}

TEST(Cipher, KeyStrings)
{
    EXPECT_EQ(Key(""), "000");
    EXPECT_EQ(Key("x"), "x001");
    EXPECT_EQ(Key("abc"), "abc003");
    EXPECT_EQ(Key(std::string(999, 'p')), std::string(999, 'p') + "999");
    EXPECT_EQ(Key(std::string(1234, 'p')), std::string(1234, 'p') + "1234");
    char tiny[5];
    EXPECT_EQ(BuildKeyString(reinterpret_cast<const uint8_t*>("ab"), 2, tiny, sizeof tiny), 0u);
    EXPECT_EQ(BuildKeyString(reinterpret_cast<const uint8_t*>("a"), 1, tiny, sizeof tiny), 4u);
}

std::vector<uint8_t> Iota(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i);
    return v;
}

TEST(Cipher, TransposeWorkedExample)
{
    std::vector<uint8_t> v = Iota(39);
    TransposeColumns(v.data(), 39, 2, 2);
    const std::vector<uint8_t> expected = {0,  1,  34, 3,  36, 5,  2,  7,  4,  9,  6,  11, 8,
                                           13, 10, 15, 12, 17, 14, 19, 16, 21, 18, 23, 20, 25,
                                           22, 27, 24, 29, 26, 31, 28, 33, 30, 35, 32, 37, 38};
    EXPECT_EQ(v, expected);
    UntransposeColumns(v.data(), 39, 2, 2);
    EXPECT_EQ(v, Iota(39));
}

// Column-by-column reference of the decode-direction rotation.
std::vector<uint8_t> ReferenceTranspose(std::vector<uint8_t> v, int32_t p, int32_t q)
{
    const uint32_t rows = static_cast<uint32_t>(q) + 7u;
    if (p < 0 || rows < 2 || static_cast<uint32_t>(p) >= v.size()) return v;
    const uint32_t n = (static_cast<uint32_t>(v.size()) - static_cast<uint32_t>(p)) / rows;
    for (uint32_t c = 0; c < n; c += 2) {
        const uint8_t last = v[p + (rows - 1) * n + c];
        for (uint32_t r = rows - 1; r > 0; --r) v[p + r * n + c] = v[p + (r - 1) * n + c];
        v[p + c] = last;
    }
    return v;
}

TEST(Cipher, TransposeMatchesColumnReference)
{
    struct Case {
        size_t length;
        int32_t offset, rows;
    } cases[] = {
        {39, 2, 2},    {9, 0, 2},      {18, 0, 2},     {27, 0, 2},    {30, 1, 2},
        {100000, 48, 0}, {100000, 1, 255}, {5000, 3, -6}, {5000, -1, 5}, {50, 60, 0},
        {50, 0, -8},   {50, 0, -128},  {50, 0, -7},    {70001, 1, 113}, {1 << 20, 97, 120},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> v = testdata::Random(c.length);
        const std::vector<uint8_t> expected = ReferenceTranspose(v, c.offset, c.rows);
        std::vector<uint8_t> got = v;
        TransposeColumns(got.data(), static_cast<uint32_t>(got.size()), c.offset, c.rows);
        EXPECT_EQ(got, expected) << c.length << " " << c.offset << " " << c.rows;
        UntransposeColumns(got.data(), static_cast<uint32_t>(got.size()), c.offset, c.rows);
        EXPECT_EQ(got, v) << c.length << " " << c.offset << " " << c.rows;
    }
}

TEST(Cipher, KeyXorAndChainedXor)
{
    std::vector<uint8_t> zeros(10, 0);
    XorWithKey(zeros.data(), 10, "abc003", 6);
    EXPECT_EQ(std::string(zeros.begin(), zeros.end()), "abc003abc0");
    XorWithKey(zeros.data(), 0, "abc003", 6);

    std::vector<uint8_t> v = {0x01, 0x02, 0x04, 0x08};
    UnchainXor(v.data(), 4);
    EXPECT_EQ(v, (std::vector<uint8_t>{0x01, 0x03, 0x06, 0x0C}));
    ChainXor(v.data(), 4);
    EXPECT_EQ(v, (std::vector<uint8_t>{0x01, 0x02, 0x04, 0x08}));
}

TEST(Cipher, WordWiseXorsMatchByteReferences)
{
    for (uint32_t length : {0u, 1u, 7u, 8u, 9u, 17u, 4095u, 100003u}) {
        const std::vector<uint8_t> data = testdata::Random(length, length + 1);
        std::vector<uint8_t> got = data, want = data;
        UnchainXor(got.data(), length);
        for (uint32_t i = length; i-- > 1;) want[i] = static_cast<uint8_t>(want[i] ^ want[i - 1]);
        EXPECT_EQ(got, want) << "unchain " << length;
        for (uint32_t keyLength : {3u, 7u, 64u, 1023u, 1024u, 1025u, 3000u}) {
            const std::string key = Key(std::string(keyLength - 3, 'k') + "\x80");
            got = data;
            want = data;
            XorWithKey(got.data(), length, key.c_str(), static_cast<uint32_t>(key.size()));
            for (uint32_t i = 0; i < length; ++i) want[i] = static_cast<uint8_t>(want[i] ^ static_cast<uint8_t>(key[i % key.size()]));
            EXPECT_EQ(got, want) << "key xor " << length << "/" << key.size();
        }
    }
}

TEST(Cipher, RoundTripForAnyPassword)
{
    const std::string passwords[] = {
        "", "a", "abc", "correct horse battery staple", std::string(1000, 'z'),
        "\xF9\xF9\xF9\xF9", "\xFA\xFA\xFA\xFA",   // 0 rows and 1 row
        "\x80\x81\x82\x83", "\x88\x9F\x30\x40",   // negative offsets, Shift-JIS pairs
        "\x82\xA0",                               // one Shift-JIS character
        "\x01\x7F\x7F\x7F"};
    for (const std::string& pw : passwords) {
        const std::string key = Key(pw);
        for (size_t length : {2u, 3u, 17u, 256u, 4099u, 300001u}) {
            const std::vector<uint8_t> plain = testdata::Random(length);
            std::vector<uint8_t> v = plain;
            ASSERT_TRUE(EncipherPayload(v.data(), static_cast<uint32_t>(v.size()), key.c_str(),
                                        static_cast<uint32_t>(key.size())));
            if (length > 16) EXPECT_NE(v, plain);
            ASSERT_TRUE(DecipherPayload(v.data(), static_cast<uint32_t>(v.size()), key.c_str(),
                                        static_cast<uint32_t>(key.size())));
            EXPECT_EQ(v, plain) << "password length " << pw.size() << " payload " << length;
        }
    }
}

TEST(Cipher, PayloadsShorterThanTwoBytesAreRefused)
{
    uint8_t one[1] = {0x42};
    EXPECT_EQ(DecipherPayload(one, 1, "000", 3), 0);
    EXPECT_EQ(DecipherPayload(one, 0, "000", 3), 0);
    EXPECT_EQ(one[0], 0x42);
}

TEST(Cipher, DecodeStepsInOrder)
{
    // The seven steps spelled out with the elementary operations. The keys
    // put the first matrix at offset 1 and past the end of short payloads,
    // give negative offsets, 0 and 1 rows, and patterns shorter and longer
    // than a block.
    const std::string passwords[] = {"", "\x07", "\x01\x01\x01\x01", "\xF9\xF9\xF9\xF9",
                                     "\xFA\x01\xFA\x01", "\x80\x81\x82\x83",
                                     "ab", std::string(1100, 'q'), std::string(3000, '\x05')};
    for (const std::string& pw : passwords) {
        const std::string key = Key(pw);
        const char* const k = key.c_str();
        const uint32_t kl = static_cast<uint32_t>(key.size());
        for (uint32_t length : {2u, 3u, 9u, 64u, 5000u, 70001u}) {
            const std::vector<uint8_t> plain = testdata::Random(length, length + kl);
            std::vector<uint8_t> a = plain, b = plain;
            ASSERT_TRUE(DecipherPayload(a.data(), length, k, kl));
            DecipherStepByStep(b.data(), length, k, kl);
            EXPECT_EQ(a, b) << "password length " << pw.size() << " payload " << length;
        }
    }
}

std::vector<uint8_t> RecordWith(const char* name, const std::string& content)
{
    RecordHeader h = {};
    h.contentLength = static_cast<uint32_t>(content.size());
    h.attributes = 0x21;
    h.creationTime = 0x01D0000000000001ull;
    h.lastAccessTime = 0x01D0000000000002ull;
    h.lastWriteTime = 0x01D0000000000003ull;
    std::strncpy(h.fileName, name, sizeof h.fileName - 1);
    h.encoderSerial = 0x0012ABCD;
    h.createdAt = -5;
    std::vector<uint8_t> record(305 + content.size());
    WriteRecordHeader(record.data(), &h, reinterpret_cast<const uint8_t*>(content.data()));
    std::memcpy(record.data() + 305, content.data(), content.size());
    return record;
}

TEST(Record, FieldsRoundTripLittleEndian)
{
    const std::vector<uint8_t> record = RecordWith("report.txt", "hello");
    EXPECT_EQ(record[1], 0x30);
    EXPECT_EQ(record[2], 0x01);
    EXPECT_EQ(record[5], 5);
    RecordHeader h;
    ASSERT_EQ(ReadRecord(record.data(), static_cast<uint32_t>(record.size()), &h), kRecordOk);
    EXPECT_EQ(h.contentLength, 5u);
    EXPECT_EQ(h.attributes, 0x21u);
    EXPECT_EQ(h.creationTime, 0x01D0000000000001ull);
    EXPECT_EQ(h.lastAccessTime, 0x01D0000000000002ull);
    EXPECT_EQ(h.lastWriteTime, 0x01D0000000000003ull);
    EXPECT_STREQ(h.fileName, "report.txt");
    EXPECT_EQ(h.encoderSerial, 0x0012ABCDu);
    EXPECT_EQ(h.createdAt, -5);
}

TEST(Record, BoundsAndContentCheck)
{
    std::vector<uint8_t> good = RecordWith("a.bin", "0123456789");
    RecordHeader h;
    struct Case {
        const char* what;
        std::vector<uint8_t> record;
        int expected;
    };
    std::vector<uint8_t> bigLength = good;
    bigLength[5] = 11; // one byte more than follows
    std::vector<uint8_t> badSize = good;
    badSize[1] = 0x31;
    std::vector<uint8_t> altered = good;
    altered[310] ^= 1;
    std::vector<uint8_t> longName = RecordWith(std::string(255, 'n').c_str(), "0123456789");
    longName[310] ^= 1; // no room for the check: not noticed
    std::vector<uint8_t> empty = RecordWith("empty", "");
    const Case cases[] = {
        {"good", good, kRecordOk},
        {"trailing bytes ignored", [&] { auto r = good; r.push_back(1); return r; }(), kRecordOk},
        {"304 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 304), kRecordWrong},
        {"contents cut", std::vector<uint8_t>(good.begin(), good.end() - 1), kRecordWrong},
        {"contentLength past block", bigLength, kRecordWrong},
        {"header size", badSize, kRecordWrong},
        {"content altered", altered, kRecordCheckMismatch},
        {"long name without check", longName, kRecordOk},
        {"empty content", empty, kRecordOk},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadRecord(c.record.data(), static_cast<uint32_t>(c.record.size()), &h), c.expected)
            << c.what;
}

TEST(Record, NameWithoutTerminatorIsCut)
{
    std::vector<uint8_t> record = RecordWith("x", "data");
    std::memset(record.data() + 1 + 36, 'N', 260);
    RecordHeader h;
    ASSERT_EQ(ReadRecord(record.data(), static_cast<uint32_t>(record.size()), &h), kRecordOk);
    EXPECT_EQ(std::strlen(h.fileName), 259u);
}

TEST(Record, LastComponentIsShiftJisAware)
{
    struct Case {
        const char* name;
        int sjis;
        const char* expected;
    } cases[] = {
        {"plain.txt", 0, "plain.txt"},
        {"C:\\dir\\sub\\file.txt", 0, "file.txt"},
        {"../../etc/passwd", 0, "passwd"},
        {"C:evil", 0, "evil"},
        {"\x95\x5C.txt", 1, "\x95\x5C.txt"},   // a kanji whose trail byte is 0x5C
        {"\x95\x5C.txt", 0, ".txt"},
        {"dir\\\x83\x5C\x83\x74\x83\x67.doc", 1, "\x83\x5C\x83\x74\x83\x67.doc"},
        {"trailing\\", 0, ""},
        {"\x95", 1, "\x95"}, // a lone lead byte at the end
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.name + StoredNameLastComponent(c.name, c.sjis), c.expected) << c.name;
}

TEST(Record, OutputKeepsOnlyUserAttributes)
{
    const struct {
        uint32_t stored, applied;
    } cases[] = {
        {0x00, 0x80},        // none: normal
        {0x01, 0x01},        // read-only
        {0x23, 0x23},        // read-only, hidden, archive
        {0x04, 0x80},        // system alone
        {0x06, 0x02},        // hidden and system: hidden only
        {0xFFFFFFFF, 0x23},  // every bit: directory, device, temporary, offline... dropped
        {0x10 | 0x40 | 0x100 | 0x1000, 0x80},
    };
    for (const auto& c : cases) EXPECT_EQ(OutputAttributes(c.stored), c.applied) << std::hex << c.stored;
}

TEST(Record, Crc32KnownValue)
{
    EXPECT_EQ(Crc32(0, reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
    const std::vector<uint8_t> v = testdata::Random(1000);
    EXPECT_EQ(Crc32(Crc32(0, v.data(), 333), v.data() + 333, 667), Crc32(0, v.data(), 1000));
}

TEST(Stub, UsableOnlyWithoutMarkerAndWhole256)
{
    std::vector<uint8_t> stub(512, 0);
    EXPECT_TRUE(IsUsableStub(stub.data(), stub.size()));
    EXPECT_FALSE(IsUsableStub(stub.data(), 500));
    const std::vector<uint8_t> marker = MarkerPiece();
    std::copy(marker.begin(), marker.end(), stub.begin() + 256);
    EXPECT_FALSE(IsUsableStub(stub.data(), stub.size()));
}

} // namespace
