// The LZAP coder: the worked streams, round trips that fill and recycle the
// dictionary, and damaged streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "lzap.h"
#include "lzap_encode.h"
#include "testdata.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Compress(const Bytes& in, int lazy = 0)
{
    std::unique_ptr<LzapEncoder, void (*)(LzapEncoder*)> enc(LzapEncoderCreate(), LzapEncoderDestroy);
    LzapEncoderSetLazy(enc.get(), lazy);
    Bytes out(LzapCompressBound(static_cast<uint32_t>(in.size())));
    const size_t n = LzapCompress(enc.get(), in.data(), static_cast<uint32_t>(in.size()), out.data(),
                                  out.size(), nullptr, nullptr);
    out.resize(n);
    return out;
}

// Decodes through the MemBlock path the decoder stub uses. Returns the
// status and the output (logical size, which may pass the declared size).
int DecodeBlock(const Bytes& stream, Bytes* out, LzapDecoder* d = nullptr)
{
    static LzapDecoder shared;
    if (!d) d = &shared;
    MemBlock block;
    if (!MemBlockAlloc(&block, static_cast<uint32_t>(stream.size()))) return -1;
    if (!stream.empty()) std::memcpy(block.address, stream.data(), stream.size());
    const int ok = Decompress(d, &block);
    out->assign(block.address, block.address + block.size);
    MemBlockFree(&block);
    return ok;
}

const Bytes kEightA = {0x71, 0x0A, 0x09, 0x0D, 0x08, 0x00, 0x00, 0x00, 0x30, 0x98, 0x6A, 0x61};
const Bytes kAbc = {0x71, 0x0A, 0x09, 0x0D, 0x03, 0x00, 0x00, 0x00, 0x30, 0x98, 0x8C, 0x60};

TEST(Lzap, WorkedStreamsDecode)
{
    Bytes out;
    ASSERT_EQ(DecodeBlock(kEightA, &out), 1);
    EXPECT_EQ(out, Bytes(8, 'a'));
    ASSERT_EQ(DecodeBlock(kAbc, &out), 1);
    EXPECT_EQ(out, (Bytes{'a', 'b', 'c'}));
}

TEST(Lzap, WorkedStreamsEncodeByteForByte)
{
    EXPECT_EQ(Compress(Bytes(8, 'a')), kEightA);
    EXPECT_EQ(Compress(Bytes{'a', 'b', 'c'}), kAbc);
}

TEST(Lzap, WorkedExampleDictionaryState)
{
    LzapDecoder d = {};
    Bytes out;
    ASSERT_EQ(DecodeBlock(kEightA, &out, &d), 1);
    // 256 = aa, 257 = aaa, 258 = aaaa, 259 = aaaaa; the list runs 256..259.
    EXPECT_EQ(d.dict.nextFree, 260u);
    EXPECT_EQ(d.dict.head, 256u);
    EXPECT_EQ(d.dict.entry[256].older, 257);
    EXPECT_EQ(d.dict.entry[257].older, 258);
    EXPECT_EQ(d.dict.entry[258].older, 259);
    EXPECT_EQ(d.dict.tail, 259u);
    EXPECT_EQ(d.dict.entry[259].length, 5);
}

TEST(Lzap, RoundTrips)
{
    struct Case {
        const char* what;
        Bytes data;
    } cases[] = {
        {"empty", {}},
        {"one byte", {0x71}},
        {"magic-like", {0x71, 0x0A, 0x09, 0x0D, 0, 0, 0, 0}},
        {"every byte value", [] { Bytes v(256); for (int i = 0; i < 256; ++i) v[i] = static_cast<uint8_t>(i); return v; }()},
        {"long run", Bytes(300000, 'a')},
        {"two-symbol runs", [] { Bytes v; for (int i = 0; i < 200000; ++i) v.push_back(static_cast<uint8_t>("ab"[i % 7 == 0])); return v; }()},
        {"text 3 MB", testdata::Text(3 << 20)},
        {"binary 3 MB", testdata::Binary(3 << 20)},
        {"random 1 MB", testdata::Random(1 << 20)},
        {"text then random", [] { Bytes v = testdata::Text(500000); Bytes r = testdata::Random(500000, 9); v.insert(v.end(), r.begin(), r.end()); return v; }()},
    };
    for (const Case& c : cases) {
        for (int lazy = 0; lazy < 2; ++lazy) {
            const Bytes stream = Compress(c.data, lazy);
            ASSERT_GE(stream.size(), 8u) << c.what;
            Bytes out;
            ASSERT_EQ(DecodeBlock(stream, &out), 1) << c.what << " lazy " << lazy;
            EXPECT_TRUE(out == c.data) << c.what << " lazy " << lazy << ": decoded " << out.size() << " of " << c.data.size();
        }
    }
}

TEST(Lzap, DictionaryRecyclesAndStringsStayWithinLimit)
{
    LzapDecoder d = {};
    Bytes out;
    ASSERT_EQ(DecodeBlock(Compress(Bytes(100000, 'a')), &out, &d), 1);
    int longest = 0;
    for (uint32_t e = 256; e < d.dict.nextFree; ++e) longest = std::max<int>(longest, d.dict.entry[e].length);
    EXPECT_EQ(longest, 128);

    ASSERT_EQ(DecodeBlock(Compress(testdata::Text(1 << 20)), &out, &d), 1);
    EXPECT_EQ(d.dict.nextFree, 4096u);
    // The recency list holds every assigned entry, each linked both ways and
    // behind its parent, so its tail has no children.
    uint32_t count = 0;
    std::vector<int> seen(kLzapEntries, -1);
    for (uint32_t e = d.dict.head, newer = kLzapNone; e != kLzapNone; newer = e, e = d.dict.entry[e].older) {
        ASSERT_EQ(d.dict.entry[e].newer, newer) << e;
        const uint32_t p = d.dict.entry[e].parent;
        if (p >= kLzapFirstCode) EXPECT_GE(seen[p], 0) << "entry " << e << " stands before its parent " << p;
        seen[e] = static_cast<int>(count++);
    }
    EXPECT_EQ(count, 3840u);
    EXPECT_EQ(d.dict.entry[d.dict.tail].firstChild, kLzapNone);
}

TEST(Lzap, StreamingMatchesWholeBlock)
{
    const Bytes data = testdata::Text(700000);
    const Bytes stream = Compress(data);
    LzapDecoder d;
    ASSERT_TRUE(LzapHasHeader(stream.data(), static_cast<uint32_t>(stream.size())));
    ASSERT_EQ(LzapDecodeBegin(&d, stream.data(), static_cast<uint32_t>(stream.size())), 1);
    Bytes out, chunk(4096);
    while (d.status == kLzapMore) {
        const uint32_t n = LzapDecodeSome(&d, chunk.data(), static_cast<uint32_t>(chunk.size()));
        out.insert(out.end(), chunk.begin(), chunk.begin() + n);
    }
    EXPECT_EQ(d.status, kLzapDone);
    EXPECT_TRUE(out == data);
}

Bytes Header(uint32_t size)
{
    return {0x71, 0x0A, 0x09, 0x0D, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
            static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
}

// The encoder fed in pieces of every awkward size writes the very stream it
// writes from one block, both parses.
TEST(Lzap, EncoderInPiecesMatchesWholeBlock)
{
    const Bytes text = testdata::Text(300000), binary = testdata::Binary(200000);
    for (const Bytes* in : {&text, &binary}) {
        for (int lazy = 0; lazy < 2; ++lazy) {
            const Bytes whole = Compress(*in, lazy);
            for (size_t piece : {size_t{1}, size_t{128}, size_t{129}, size_t{130}, size_t{4099}, size_t{65536}}) {
                std::unique_ptr<LzapEncoder, void (*)(LzapEncoder*)> e(LzapEncoderCreate(), LzapEncoderDestroy);
                LzapEncoderSetLazy(e.get(), lazy);
                Bytes out(kLzapHeaderSize);
                LzapCompressBegin(e.get(), static_cast<uint32_t>(in->size()), out.data());
                Bytes window;
                size_t fed = 0;
                while (fed < in->size() || !window.empty()) {
                    const size_t n = std::min(piece, in->size() - fed);
                    window.insert(window.end(), in->begin() + static_cast<long>(fed),
                                  in->begin() + static_cast<long>(fed + n));
                    fed += n;
                    const int last = fed == in->size();
                    Bytes chunk(LzapCompressBound(static_cast<uint32_t>(window.size())));
                    uint32_t taken = 0;
                    chunk.resize(LzapCompressSome(e.get(), window.data(), static_cast<uint32_t>(window.size()), last,
                                                  chunk.data(), &taken));
                    out.insert(out.end(), chunk.begin(), chunk.end());
                    window.erase(window.begin(), window.begin() + taken);
                    if (last) break;
                }
                uint8_t tail[8];
                const size_t t = LzapCompressEnd(e.get(), tail);
                out.insert(out.end(), tail, tail + t);
                EXPECT_EQ(out, whole) << "piece " << piece << " lazy " << lazy;
            }
        }
    }
}

TEST(Lzap, DamagedStreams)
{
    struct Case {
        const char* what;
        Bytes stream;
        int ok;        // Decompress result
        size_t length; // resulting block size
    };
    Bytes cut = Compress(testdata::Text(20000));
    cut.resize(cut.size() / 2);
    Bytes unassigned = Header(10);
    unassigned.push_back(0x80); // flag 1, index 0 (width 1) with nothing assigned
    const Case cases[] = {
        {"seven bytes of magic and size: stored", {0x71, 0x0A, 0x09, 0x0D, 5, 0, 0}, 1, 7},
        {"empty block: stored", {}, 1, 0},
        {"no magic: stored", {1, 2, 3, 4, 5, 6, 7, 8, 9}, 1, 9},
        {"size 0 with 8 bytes", Header(0), 1, 0},
        {"size beyond reach of the input", [] { Bytes b = Header(600); b.push_back(0); return b; }(), 0, 9},
        {"4 GiB size", [] { Bytes b = Header(0xFFFFFFFFu); b.resize(4096, 0); return b; }(), 0, 4096},
        {"unassigned index", unassigned, 0, 9},
        {"cut in half", cut, 0, cut.size()},
        {"all ones", [] { Bytes b = Header(100); b.resize(30, 0xFF); return b; }(), 0, 30},
    };
    for (const Case& c : cases) {
        Bytes out;
        EXPECT_EQ(DecodeBlock(c.stream, &out), c.ok) << c.what;
        EXPECT_EQ(out.size(), c.length) << c.what;
    }
}

TEST(Lzap, LastStringMayRunPastDeclaredSize)
{
    Bytes stream = Compress(Bytes(8, 'a'));
    stream[4] = 6; // declare 6: the fourth symbol already reaches 7
    Bytes out;
    ASSERT_EQ(DecodeBlock(stream, &out), 1);
    EXPECT_EQ(out, Bytes(7, 'a'));
}

TEST(Lzap, NestedCallIsRefused)
{
    LzapDecoder d = {};
    d.busy = 1;
    MemBlock block;
    ASSERT_TRUE(MemBlockAlloc(&block, 12));
    std::memcpy(block.address, kAbc.data(), 12);
    EXPECT_EQ(Decompress(&d, &block), 0);
    EXPECT_EQ(d.status, kLzapBusy);
    EXPECT_EQ(block.size, 12u);
    MemBlockFree(&block);
}

TEST(Lzap, RandomGarbageNeverEscapesItsBuffers)
{
    // Garbage after a valid header: must end, within bounds, under ASan.
    testdata::Rng r(77);
    for (int i = 0; i < 300; ++i) {
        Bytes b = Header(1 + r.Below(100000));
        const Bytes tail = testdata::Random(1 + r.Below(400), static_cast<uint64_t>(i));
        b.insert(b.end(), tail.begin(), tail.end());
        Bytes out;
        DecodeBlock(b, &out);
    }
}

} // namespace
