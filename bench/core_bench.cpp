// Throughput of each decoding stage and of the compressor, on generated data
// that is the same on every machine.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cipher.h"
#include "integrity.h"
#include "lzap.h"
#include "lzap_encode.h"
#include "record.h"
#include "testdata.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Data(int kind, size_t n)
{
    switch (kind) {
    case 0: return testdata::Text(n);
    case 1: return testdata::Binary(n);
    default: return testdata::Random(n);
    }
}

const char* KindName(int kind)
{
    return kind == 0 ? "text" : kind == 1 ? "binary" : "random";
}

Bytes Compress(const Bytes& in)
{
    std::unique_ptr<LzapEncoder, void (*)(LzapEncoder*)> e(LzapEncoderCreate(), LzapEncoderDestroy);
    Bytes out(LzapCompressBound(static_cast<uint32_t>(in.size())));
    out.resize(LzapCompress(e.get(), in.data(), static_cast<uint32_t>(in.size()), out.data(), out.size(),
                            nullptr, nullptr));
    return out;
}

const char kKey[] = "correct horse battery staple028";

void BM_Decipher(benchmark::State& state)
{
    Bytes buf = testdata::Random(static_cast<size_t>(state.range(0)) << 20);
    for (auto _ : state) {
        DecipherPayload(buf.data(), static_cast<uint32_t>(buf.size()), kKey, sizeof kKey - 1);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buf.size()));
}
BENCHMARK(BM_Decipher)->Arg(64)->Unit(benchmark::kMillisecond);

// The seven steps one at a time, so the slowest is plain to see.
void BM_CipherStep(benchmark::State& state)
{
    Bytes buf = testdata::Random(64u << 20);
    const uint32_t n = static_cast<uint32_t>(buf.size());
    const int step = static_cast<int>(state.range(0));
    for (auto _ : state) {
        switch (step) {
        case 1: TransposeColumns(buf.data(), n, 'o', 'r'); break;
        case 2: XorWithKey(buf.data() + 1, n - 1, kKey, sizeof kKey - 1); break;
        case 3: TransposeColumns(buf.data(), n, 'c', 'r'); break;
        case 4: UnchainXor(buf.data(), n); break;
        case 5: TransposeColumns(buf.data(), n, 2, 2); break;
        case 6: XorWithKey(buf.data(), n, kKey, sizeof kKey - 1); break;
        case 7: TransposeColumns(buf.data(), n, 1, 0x71); break;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buf.size()));
}
BENCHMARK(BM_CipherStep)->DenseRange(1, 7)->Unit(benchmark::kMillisecond);

void BM_Decompress(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    const Bytes data = Data(kind, 16u << 20);
    const Bytes stream = Compress(data);
    static LzapDecoder d;
    Bytes out(data.size() + kLzapMaxString);
    for (auto _ : state) {
        LzapDecodeBegin(&d, stream.data(), static_cast<uint32_t>(stream.size()));
        LzapDecodeSome(&d, out.data(), static_cast<uint32_t>(out.size()));
        benchmark::DoNotOptimize(out.data());
    }
    if (std::memcmp(out.data(), data.data(), data.size()) != 0) state.SkipWithError("mismatch");
    state.SetLabel(std::string(KindName(kind)) + ", ratio " +
                   std::to_string(100.0 * static_cast<double>(stream.size()) / static_cast<double>(data.size())).substr(0, 5) + "%");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Decompress)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_Compress(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    const Bytes data = Data(kind, 16u << 20);
    std::unique_ptr<LzapEncoder, void (*)(LzapEncoder*)> e(LzapEncoderCreate(), LzapEncoderDestroy);
    Bytes out(LzapCompressBound(static_cast<uint32_t>(data.size())));
    for (auto _ : state) {
        benchmark::DoNotOptimize(LzapCompress(e.get(), data.data(), static_cast<uint32_t>(data.size()), out.data(),
                                              out.size(), nullptr, nullptr));
    }
    state.SetLabel(KindName(kind));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Compress)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// The same with the one-byte look-ahead of pack --lookahead.
void BM_CompressBest(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    const Bytes data = Data(kind, 16u << 20);
    std::unique_ptr<LzapEncoder, void (*)(LzapEncoder*)> e(LzapEncoderCreate(), LzapEncoderDestroy);
    LzapEncoderSetLazy(e.get(), 1);
    Bytes out(LzapCompressBound(static_cast<uint32_t>(data.size())));
    size_t n = 0;
    for (auto _ : state) {
        n = LzapCompress(e.get(), data.data(), static_cast<uint32_t>(data.size()), out.data(), out.size(), nullptr, nullptr);
        benchmark::DoNotOptimize(n);
    }
    state.SetLabel(std::string(KindName(kind)) + ", ratio " +
                   std::to_string(100.0 * static_cast<double>(n) / static_cast<double>(data.size())).substr(0, 5) + "%");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_CompressBest)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

void BM_IntegritySum(benchmark::State& state)
{
    const Bytes buf = testdata::Random(64u << 20);
    uint8_t lanes[16];
    for (auto _ : state) {
        ComputeIntegritySum(nullptr, 0, buf.data(), buf.size(), lanes);
        benchmark::DoNotOptimize(lanes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buf.size()));
}
BENCHMARK(BM_IntegritySum)->Unit(benchmark::kMillisecond);

void BM_Crc32(benchmark::State& state)
{
    const Bytes buf = testdata::Random(64u << 20);
    for (auto _ : state) benchmark::DoNotOptimize(Crc32(0, buf.data(), buf.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buf.size()));
}
BENCHMARK(BM_Crc32)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
