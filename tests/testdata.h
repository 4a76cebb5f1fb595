// Reproducible generated data for tests and benchmarks: the same seed gives
// the same bytes on every machine.
#ifndef LUMISAFE_TESTS_TESTDATA_H
#define LUMISAFE_TESTS_TESTDATA_H

#include <cstdint>
#include <string>
#include <vector>

namespace testdata {

struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
};

inline std::vector<uint8_t> Random(size_t n, uint64_t seed = 1)
{
    Rng r(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(r.Next() >> 24);
    return v;
}

// Words drawn with a skewed distribution from a small vocabulary, with
// punctuation and line breaks: compresses roughly like prose or source code.
inline std::vector<uint8_t> Text(size_t n, uint64_t seed = 2)
{
    static const char* const words[] = {
        "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with",
        "be", "by", "on", "not", "he", "this", "are", "or", "his", "from", "at", "which",
        "but", "have", "an", "had", "they", "you", "were", "their", "one", "all", "we",
        "can", "her", "has", "there", "been", "if", "more", "when", "will", "would", "who",
        "so", "no", "file", "decode", "password", "window", "memory", "buffer", "return",
        "static", "const", "uint32_t", "size", "length", "offset", "dictionary", "entry"};
    const uint32_t count = sizeof words / sizeof words[0];
    Rng r(seed);
    std::vector<uint8_t> v;
    v.reserve(n + 16);
    uint32_t lineLength = 0;
    while (v.size() < n) {
        const uint32_t a = r.Below(count), b = r.Below(count);
        const std::string w = words[a < b ? a : b];
        v.insert(v.end(), w.begin(), w.end());
        lineLength += static_cast<uint32_t>(w.size()) + 1;
        const uint32_t p = r.Below(40);
        if (p == 0) v.push_back(',');
        if (p == 1) v.push_back('.');
        if (lineLength > 60 + r.Below(20)) {
            v.push_back('\n');
            lineLength = 0;
        } else {
            v.push_back(' ');
        }
    }
    v.resize(n);
    return v;
}

// Structured binary: little-endian records with small counters, repeated
// opcodes and occasional noise, in the manner of executables and tables.
inline std::vector<uint8_t> Binary(size_t n, uint64_t seed = 3)
{
    Rng r(seed);
    std::vector<uint8_t> v;
    v.reserve(n + 16);
    uint32_t counter = 0;
    static const uint8_t ops[][4] = {{0x8B, 0x45, 0xFC, 0x89}, {0x55, 0x89, 0xE5, 0x83},
                                     {0xE8, 0x00, 0x00, 0x00}, {0xC3, 0x90, 0x90, 0x90}};
    while (v.size() < n) {
        switch (r.Below(4)) {
        case 0:
            for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(counter >> (8 * i)));
            counter += 1 + r.Below(16);
            break;
        case 1: {
            const uint8_t* op = ops[r.Below(4)];
            v.insert(v.end(), op, op + 4);
            break;
        }
        case 2: v.insert(v.end(), 4 + r.Below(12), 0); break;
        default: v.push_back(static_cast<uint8_t>(r.Next())); break;
        }
    }
    v.resize(n);
    return v;
}

} // namespace testdata

#endif
