// The sealed form: round trips over chunk boundaries, each failure told for
// what it is, and a known answer that every platform's cryptography must
// reproduce (the same test runs natively with OpenSSL and under Wine with the
// system's CNG).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "container_write.h"
#include "marker.h"
#include "sealed.h"
#include "sealed_crypto.h"
#include "sealed_write.h"
#include "zstd_frame.h"
#include "zstd_frame_write.h"

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

namespace {

using Bytes = std::vector<uint8_t>;

const uint32_t kFastIterations = 1000; // the tests need no slow derivation
const uint32_t kSmallChunks = 12;      // 4 KiB chunks: boundaries with little data

Bytes Marker(const char* caption = "\"hello.txt\" Decode")
{
    Bytes block(kMarkerBlockSize);
    MarkerFields f = {caption, static_cast<uint32_t>(std::strlen(caption)), 0, 2, 0, 0, kFormSealed};
    FillMarkerBlock(block.data(), &f);
    return block;
}

Bytes Pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return b;
}

Bytes Seal(const Bytes& plain, const Bytes& marker, const std::string& password, uint32_t shift = kSmallChunks)
{
    Bytes out(SealedPayloadSize(plain.size(), shift));
    size_t n = 0;
    EXPECT_EQ(SealPayload(plain.data(), plain.size(), marker.data(), reinterpret_cast<const uint8_t*>(password.data()),
                          static_cast<uint32_t>(password.size()), kFastIterations, shift, out.data(), out.size(), &n),
              kSealedOk);
    EXPECT_EQ(n, out.size());
    return out;
}

// Opens a copy; returns the status and, on success, the plaintext.
int Open(Bytes payload, const Bytes& marker, const std::string& password, Bytes* plain = nullptr)
{
    Bytes scratch(size_t{1} << kSealedMaxChunkShift);
    size_t n = 0;
    const int rc = OpenSealedPayload(payload.data(), payload.size(), marker.data(),
                                     reinterpret_cast<const uint8_t*>(password.data()),
                                     static_cast<uint32_t>(password.size()), scratch.data(), scratch.size(), &n);
    if (rc == kSealedOk && plain) plain->assign(payload.begin(), payload.begin() + static_cast<long>(n));
    return rc;
}

TEST(Sealed, RoundTripsAcrossChunkBoundaries)
{
    const Bytes marker = Marker();
    for (size_t n : {size_t{1}, size_t{305}, size_t{4095}, size_t{4096}, size_t{4097}, size_t{3 * 4096},
                     size_t{3 * 4096 + 5}}) {
        const Bytes plain = Pattern(n);
        const Bytes sealed = Seal(plain, marker, "pässwörd");
        EXPECT_EQ(sealed.size(), 100 + n + 16 * ((n + 4095) / 4096)) << n;
        Bytes back;
        ASSERT_EQ(Open(sealed, marker, "pässwörd", &back), kSealedOk) << n;
        EXPECT_EQ(back, plain) << n;
    }
}

TEST(Sealed, TwoSealsOfOneInputDiffer)
{
    const Bytes marker = Marker(), plain = Pattern(1000);
    EXPECT_NE(Seal(plain, marker, "pw"), Seal(plain, marker, "pw")); // fresh salt and nonce prefix
}

TEST(Sealed, EachFailureIsToldForWhatItIs)
{
    const Bytes marker = Marker();
    const Bytes sealed = Seal(Pattern(3 * 4096 + 100), marker, "right");
    struct Case {
        const char* what;
        void (*change)(Bytes* payload, Bytes* marker);
        const char* password;
        int want;
    };
    const Case cases[] = {
        {"as made", [](Bytes*, Bytes*) {}, "right", kSealedOk},
        {"wrong password", [](Bytes*, Bytes*) {}, "wrong", kSealedWrongPassword},
        {"empty password", [](Bytes*, Bytes*) {}, "", kSealedWrongPassword},
        {"caption changed", [](Bytes*, Bytes* m) { (*m)[33] ^= 1; }, "right", kSealedTampered},
        {"flag changed", [](Bytes*, Bytes* m) { (*m)[kMarkerOffsetSelfDelete] = 0; }, "right", kSealedTampered},
        {"reserved marker byte", [](Bytes*, Bytes* m) { (*m)[255] = 1; }, "right", kSealedTampered},
        {"integrity sum changed (not covered)", [](Bytes*, Bytes* m) { (*m)[240] ^= 0xFF; }, "right", kSealedOk},
        {"cut by 1", [](Bytes* p, Bytes*) { p->pop_back(); }, "right", kSealedDamaged},
        {"cut by 16", [](Bytes* p, Bytes*) { p->resize(p->size() - 16); }, "right", kSealedDamaged},
        {"last chunk gone", [](Bytes* p, Bytes*) { p->resize(100 + 3 * (4096 + 16)); }, "right", kSealedDamaged},
        {"header only", [](Bytes* p, Bytes*) { p->resize(100); }, "right", kSealedDamaged},
        {"byte appended", [](Bytes* p, Bytes*) { p->push_back(0); }, "right", kSealedDamaged},
        {"chunk byte flipped", [](Bytes* p, Bytes*) { (*p)[100 + 4096 + 16 + 5] ^= 1; }, "right", kSealedDamaged},
        {"tag flipped", [](Bytes* p, Bytes*) { (*p)[100 + 4096] ^= 1; }, "right", kSealedDamaged},
        {"last byte flipped", [](Bytes* p, Bytes*) { p->back() ^= 1; }, "right", kSealedDamaged},
        {"chunks swapped",
         [](Bytes* p, Bytes*) {
             std::swap_ranges(p->begin() + 100, p->begin() + 100 + 4112, p->begin() + 100 + 4112);
         },
         "right", kSealedDamaged},
        {"marker check flipped", [](Bytes* p, Bytes*) { (*p)[70] ^= 1; }, "right", kSealedTampered},
        {"salt changed", [](Bytes* p, Bytes*) { (*p)[12] ^= 1; }, "right", kSealedWrongPassword},
        {"iterations changed", [](Bytes* p, Bytes*) { (*p)[8] ^= 1; }, "right", kSealedWrongPassword},
        {"version 2", [](Bytes* p, Bytes*) { (*p)[4] = 2; }, "right", kSealedNewer},
        {"unknown key derivation", [](Bytes* p, Bytes*) { (*p)[5] = 9; }, "right", kSealedNewer},
        {"magic broken", [](Bytes* p, Bytes*) { (*p)[0] = 'X'; }, "right", kSealedDamaged},
        {"no iterations", [](Bytes* p, Bytes*) { std::memset(p->data() + 8, 0, 4); }, "right", kSealedDamaged},
        // More rounds than any writer makes: refused before any derivation.
        {"endless iterations", [](Bytes* p, Bytes*) { std::memset(p->data() + 8, 0xFF, 4); }, "right",
         kSealedNewer},
        {"one round past the cap", [](Bytes* p, Bytes*) { StoreLE32(p->data() + 8, kSealedMaxIterations + 1); },
         "right", kSealedNewer},
        {"no rounds", [](Bytes* p, Bytes*) { StoreLE32(p->data() + 8, 0); }, "right", kSealedDamaged},
        {"chunk shift 30", [](Bytes* p, Bytes*) { (*p)[6] = 30; }, "right", kSealedDamaged},
        // The codec and the level are bound to the password check.
        {"codec changed to zstd", [](Bytes* p, Bytes*) { (*p)[7] = kSealedCodecZstd; }, "right", kSealedWrongPassword},
        {"unknown codec", [](Bytes* p, Bytes*) { (*p)[7] = 2; }, "right", kSealedNewer},
        {"level changed", [](Bytes* p, Bytes*) { (*p)[35] = 1; }, "right", kSealedWrongPassword},
        {"cut to 7 bytes", [](Bytes* p, Bytes*) { p->resize(7); }, "right", kSealedDamaged},
        {"cut inside the header", [](Bytes* p, Bytes*) { p->resize(60); }, "right", kSealedDamaged},
    };
    for (const Case& c : cases) {
        Bytes p = sealed, m = marker;
        c.change(&p, &m);
        EXPECT_EQ(Open(p, m, c.password), c.want) << c.what;
    }
}

TEST(Sealed, ChunkGeometry)
{
    uint32_t count = 0;
    size_t plain = 0;
    EXPECT_EQ(SealedChunks(100, 12, &count, &plain), 0);
    EXPECT_EQ(SealedChunks(116, 12, &count, &plain), 0); // a tag without a byte
    ASSERT_EQ(SealedChunks(117, 12, &count, &plain), 1);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(plain, 1u);
    ASSERT_EQ(SealedChunks(100 + 4112, 12, &count, &plain), 1);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(plain, 4096u);
    EXPECT_EQ(SealedChunks(100 + 4112 + 16, 12, &count, &plain), 0);
    ASSERT_EQ(SealedChunks(100 + 4112 + 17, 12, &count, &plain), 1);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(plain, 4097u);
}

// The worked example of docs/format.md: fixed salt and nonce prefix.
TEST(Sealed, KnownAnswer)
{
    const Bytes marker = Marker();
    const std::string text = "Hello, sealed world!\n";
    const Bytes plain(text.begin(), text.end());
    uint8_t salt[16], prefix[7];
    for (int i = 0; i < 16; ++i) salt[i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 7; ++i) prefix[i] = static_cast<uint8_t>(0xA0 + i);
    Bytes out(SealedPayloadSize(plain.size(), 16));
    size_t n = 0;
    ASSERT_EQ(SealPayloadWith(plain.data(), plain.size(), marker.data(), reinterpret_cast<const uint8_t*>("password"),
                              8, 1000, 16, salt, prefix, out.data(), out.size(), &n),
              kSealedOk);
    ASSERT_EQ(n, 100 + plain.size() + 16);
    std::string hex;
    for (uint8_t b : out) {
        char h[3];
        std::snprintf(h, sizeof h, "%02x", b);
        hex += h;
    }
    // Checked independently (Python's hashlib and the cryptography package).
    EXPECT_EQ(hex, "5345414c01011000e8030000000102030405060708090a0b0c0d0e0fa0a1a2a3a4a5a600" // header fields
                   "78045a0d4a24364655bf20173e0f0ffaf41fd045de61798c02333da085a821a7"   // password check
                   "28c923c602bcc1e5694712040ab676e5490c91be00909d54cb7a4a713e6a8e4e"   // marker check
                   "55800bf492badc3531557fdcfcf286832ad1b809a1"                         // the text
                   "99dd7333f439f4da72cdf7af210dc1b5");                                 // its tag
    Bytes back;
    ASSERT_EQ(Open(out, marker, "password", &back), kSealedOk);
    EXPECT_EQ(back, plain);
}

} // namespace

// --- the zstd codec ---------------------------------------------------------

namespace {

Bytes ZstdFrame(const Bytes& in, int level = 3)
{
    Bytes out(ZstdFrameBound(in.size()));
    out.resize(ZstdCompressFrame(in.data(), in.size(), level, 0, out.data(), out.size()));
    EXPECT_GT(out.size(), 0u);
    return out;
}

// A frame as writers make it (level 3) but for one parameter; empty on failure.
Bytes ZstdFrameWith(const Bytes& in, ZSTD_cParameter parameter, int value)
{
    Bytes out(ZstdFrameBound(in.size()));
    ZSTD_CCtx* c = ZSTD_createCCtx();
    size_t n = 0;
    if (ZstdWriterSetup(c, 3, 0, in.size()) && !ZSTD_isError(ZSTD_CCtx_setParameter(c, parameter, value))) {
        n = ZSTD_compress2(c, out.data(), out.size(), in.data(), in.size());
        if (ZSTD_isError(n)) n = 0;
    }
    ZSTD_freeCCtx(c);
    out.resize(n);
    return out;
}

// Expands a frame in pieces of `piece` bytes; the status and the output.
int Expand(const Bytes& frame, Bytes* out, uint32_t piece = 1000, uint64_t maxContent = 1u << 30)
{
    ZstdExpander e;
    out->clear();
    if (ZstdExpandBegin(&e, frame.data(), frame.size(), maxContent) != kZstdMore) return e.status;
    Bytes buffer(piece);
    while (e.status == kZstdMore) {
        const uint32_t n = ZstdExpandSome(&e, buffer.data(), piece);
        EXPECT_LE(n, piece);
        out->insert(out->end(), buffer.begin(), buffer.begin() + n);
    }
    ZstdExpandEnd(&e);
    return e.status;
}

// The frame content size field: its offset and width, from the descriptor.
void ContentSizeField(const Bytes& frame, size_t* at, size_t* width)
{
    const uint8_t fhd = frame[4];
    const bool single = fhd & 0x20;
    const size_t dictWidth[] = {0, 1, 2, 4};
    const size_t fcsWidth[] = {single ? size_t{1} : 0, 2, 4, 8};
    *at = 5 + (single ? 0 : 1) + dictWidth[fhd & 3];
    *width = fcsWidth[fhd >> 6];
}

void AddToContentSize(Bytes* frame, int delta)
{
    size_t at, width;
    ContentSizeField(*frame, &at, &width);
    ASSERT_GE(width, 2u); // wide enough to change without moving the blocks
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v |= uint64_t{(*frame)[at + i]} << (8 * i);
    v += static_cast<uint64_t>(static_cast<int64_t>(delta));
    for (size_t i = 0; i < width; ++i) (*frame)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace

TEST(ZstdFrame, ExpandsInAnyPieceSize)
{
    const Bytes record = Pattern(300000);
    const Bytes frame = ZstdFrame(record, 19);
    for (uint32_t piece : {1u, 7u, 4096u, 1u << 20}) {
        Bytes back;
        ASSERT_EQ(Expand(frame, &back, piece), kZstdDone) << piece;
        EXPECT_EQ(back, record) << piece;
    }
}

TEST(ZstdFrame, EachFailureIsToldForWhatItIs)
{
    const Bytes record = Pattern(70000);
    const Bytes frame = ZstdFrame(record);
    // A frame whose window is 1 KiB: not single-segment, so it has a window
    // descriptor to change.
    const Bytes windowed = ZstdFrameWith(record, ZSTD_c_windowLog, 10);
    ASSERT_FALSE(windowed.empty());
    ASSERT_FALSE(windowed[4] & 0x20);
    struct Case {
        const char* what;
        Bytes frame;
        int want;
    };
    // Writers leave out zstd's own checksum; a reader accepts one and ignores it.
    const Bytes checked = ZstdFrameWith(record, ZSTD_c_checksumFlag, 1);
    ASSERT_FALSE(checked.empty());
    Bytes wrongCheck = checked;
    wrongCheck.back() ^= 1;
    Bytes longer = frame, shorter = frame, cut = frame, trailing = frame, wide = windowed, noMagic = frame;
    AddToContentSize(&longer, 1);
    AddToContentSize(&shorter, -1);
    cut.resize(cut.size() - 5);
    trailing.push_back(0);
    wide[5] = 15 << 3; // window 2^(10 + 15): 32 MiB
    noMagic[0] ^= 1;
    const Case cases[] = {
        {"as made", frame, kZstdDone},
        {"a 1 KiB window", windowed, kZstdDone},
        {"with a checksum", checked, kZstdDone},
        {"with a wrong checksum, which is not read", wrongCheck, kZstdDone},
        {"claims a byte more than it holds", longer, kZstdDamaged},
        {"claims a byte less than it holds", shorter, kZstdDamaged},
        {"cut short", cut, kZstdDamaged},
        {"a byte after the frame", trailing, kZstdDamaged},
        {"a window above the cap", wide, kZstdNewer},
        {"not a frame", noMagic, kZstdDamaged},
        {"only the magic", Bytes(frame.begin(), frame.begin() + 4), kZstdDamaged},
    };
    for (const Case& c : cases) {
        Bytes out;
        EXPECT_EQ(Expand(c.frame, &out), c.want) << c.what;
        EXPECT_LE(out.size(), record.size()) << c.what;
    }
    // A frame larger than the caller allows is refused from its header.
    Bytes out;
    EXPECT_EQ(Expand(frame, &out, 1000, record.size() - 1), kZstdDamaged);
}

TEST(ZstdFrame, WritersKeepTheWindowWithinTheCap)
{
    ZSTD_CCtx* c = ZSTD_createCCtx();
    for (int level : {1, 9, 19})
        for (int longWindow : {0, 1}) {
            ASSERT_TRUE(ZstdWriterSetup(c, level, longWindow, uint64_t{1} << 31));
            int windowLog = 0;
            ZSTD_CCtx_getParameter(c, ZSTD_c_windowLog, &windowLog);
            EXPECT_LE(windowLog, int{kZstdMaxWindowLog}) << level << " " << longWindow;
        }
    EXPECT_FALSE(ZstdWriterSetup(c, 0, 0, 100));
    EXPECT_FALSE(ZstdWriterSetup(c, 20, 0, 100));
    ZSTD_freeCCtx(c);
}

// The second worked example of docs/format.md: the same text as one zstd
// frame (a single raw block: too short to compress), codec 1, level 9.
TEST(ZstdFrame, KnownAnswer)
{
    const Bytes marker = Marker();
    const std::string text = "Hello, sealed world!\n";
    const Bytes record(text.begin(), text.end());
    const Bytes frame = ZstdFrame(record, 9);
    std::string hex;
    const auto toHex = [&hex](const Bytes& b) {
        hex.clear();
        for (uint8_t x : b) {
            char h[3];
            std::snprintf(h, sizeof h, "%02x", x);
            hex += h;
        }
        return hex;
    };
    EXPECT_EQ(toHex(frame), "28b52ffd2015a90000" "48656c6c6f2c207365616c656420776f726c64210a");
    uint8_t salt[16], prefix[7];
    for (int i = 0; i < 16; ++i) salt[i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 7; ++i) prefix[i] = static_cast<uint8_t>(0xA0 + i);
    Bytes out(SealedPayloadSize(frame.size(), 16));
    std::copy(frame.begin(), frame.end(), out.begin());
    const SealedCoding coding = {kSealedCodecZstd, 9};
    size_t n = 0;
    ASSERT_EQ(SealPayloadInPlaceCoded(out.data(), frame.size(), out.size(), marker.data(),
                                      reinterpret_cast<const uint8_t*>("password"), 8, 1000, 16, &coding, salt,
                                      prefix, &n),
              kSealedOk);
    ASSERT_EQ(n, 146u);
    // Checked independently (Python's hashlib and the cryptography package,
    // with the frame built by hand from RFC 8878).
    EXPECT_EQ(toHex(out), "5345414c01011001e8030000000102030405060708090a0b0c0d0e0fa0a1a2a3a4a5a609" // header fields
                          "78045a0d4a24364655bf20173e0f0ffa4b095c9ceffa0714b6ba6b443749c67c"   // password check
                          "28c923c602bcc1e5694712040ab676e5490c91be00909d54cb7a4a713e6a8e4e"   // marker check
                          "35504865dd835546547c76d5f4bdddcc2bd8bd44ce89b3373a2619c6bdab"       // the frame
                          "173a0c7d15d5a0c1d079a931f15dd67a");                                 // its tag
    Bytes back;
    ASSERT_EQ(Open(out, marker, "password", &back), kSealedOk);
    EXPECT_EQ(back, frame);
}
