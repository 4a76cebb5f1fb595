// The sealed form against the classic one: the cost of one password guess
// (what stands between an attacker and the contents) and the throughput of
// opening a payload once the password is known.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "cipher.h"
#include "container_write.h"
#include "marker.h"
#include "record.h"
#include "sealed.h"
#include "sealed_crypto.h"
#include "sealed_write.h"
#include "testdata.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kPassword[] = "correct horse battery staple";
const uint32_t kPasswordLength = sizeof kPassword - 1;

// One guess at a sealed file: the key derivation at the given iteration
// count, then the password check (one GCM block). Guesses per second per
// core is the reciprocal of the time per iteration.
void BM_SealedGuess(benchmark::State& state)
{
    const uint8_t salt[kSealedSaltSize] = {1, 2, 3};
    for (auto _ : state) {
        SealedKey* key = nullptr;
        benchmark::DoNotOptimize(SealedKeyDerive(kPassword, kPasswordLength, salt, sizeof salt,
                                                 static_cast<uint32_t>(state.range(0)), &key));
        SealedKeyDestroy(key);
    }
    state.counters["guesses/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SealedGuess)->Arg(kSealedDefaultIterations)->Unit(benchmark::kMillisecond)->UseRealTime();

// One guess at a classic file the plain way: the key string, the seven
// steps over a small payload (a stored record of 64 content bytes) and the
// header test. Attacks that decipher only the first bytes go faster still.
void BM_ClassicGuess(benchmark::State& state)
{
    Bytes record(kRecordContentOffset + 64, 0);
    const Bytes original = record;
    uint32_t guess = 0;
    for (auto _ : state) {
        char key[64];
        char password[16];
        std::memcpy(password, "guess-", 6);
        for (int i = 0; i < 8; ++i) password[6 + i] = static_cast<char>('a' + ((guess >> (3 * i)) & 7));
        ++guess;
        const uint32_t n = BuildKeyString(reinterpret_cast<const uint8_t*>(password), 14, key, sizeof key);
        std::memcpy(record.data(), original.data(), record.size());
        DecipherPayload(record.data(), static_cast<uint32_t>(record.size()), key, n);
        RecordHeader h;
        benchmark::DoNotOptimize(ReadRecordHeader(record.data(), static_cast<uint32_t>(record.size()), &h));
    }
    state.counters["guesses/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ClassicGuess);

// Opening a 64 MiB sealed payload with the right password, beside
// deciphering a classic one: the derivation is left out (a few iterations).
void BM_SealedOpen(benchmark::State& state)
{
    const Bytes plain = testdata::Random(64u << 20);
    uint8_t marker[kMarkerBlockSize] = {0};
    Bytes sealed(SealedPayloadSize(plain.size(), kSealedDefaultChunkShift));
    size_t n = 0;
    SealPayload(plain.data(), plain.size(), marker, kPassword, kPasswordLength, 1, kSealedDefaultChunkShift,
                sealed.data(), sealed.size(), &n);
    Bytes work(sealed.size());
    Bytes scratch(size_t{1} << kSealedMaxChunkShift);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), sealed.data(), sealed.size());
        state.ResumeTiming();
        size_t plainLength = 0;
        benchmark::DoNotOptimize(OpenSealedPayload(work.data(), work.size(), marker, kPassword, kPasswordLength,
                                                   scratch.data(), scratch.size(), &plainLength));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * plain.size()));
}
BENCHMARK(BM_SealedOpen)->Unit(benchmark::kMillisecond);

} // namespace
