// Writes the seed corpus of each fuzz target into the directory given:
// make_seeds DIR (creates DIR/<target>/seed-*).
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "container_write.h"
#include "lzap_encode.h"
#include "record_write.h"
#include "testdata.h"
#include "testrecords.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

static void Put(const fs::path& dir, const std::string& name, const Bytes& data)
{
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                      static_cast<std::streamsize>(data.size()));
}

using testrecords::Compress;
using testrecords::Record;

int main(int argc, char** argv)
{
    if (argc < 2) return 1;
    const fs::path root = argv[1];
    const Bytes text = testdata::Text(3000), binary = testdata::Binary(2000);
    const Bytes rText = Record("notes.txt", text), rBin = Record("\x93\xFA\x96\x7B.bin", binary);
    const Bytes rEmpty = Record("empty", {});

    Put(root / "decompress", "seed-aaaaaaaa", {0x71, 0x0A, 0x09, 0x0D, 8, 0, 0, 0, 0x30, 0x98, 0x6A, 0x61});
    Put(root / "decompress", "seed-abc", {0x71, 0x0A, 0x09, 0x0D, 3, 0, 0, 0, 0x30, 0x98, 0x8C, 0x60});
    Put(root / "decompress", "seed-text", Compress(text));
    Put(root / "decompress", "seed-run", Compress(Bytes(5000, 'a')));

    Put(root / "decode_file", "seed-text-compressed", Compress(rText));
    Put(root / "decode_file", "seed-binary-compressed", Compress(rBin));
    Put(root / "decode_file", "seed-empty-compressed", Compress(rEmpty));
    Put(root / "decode_file", "seed-text-stored", rText);

    Bytes file(512, 0x90);
    uint8_t block[256];
    const MarkerFields f = {"\"notes.txt\" Decode", 18, 1, 0, 1, 1};
    WriteMarkerBlock(block, &f, file.data(), file.size(), rText.data(), rText.size());
    file.insert(file.end(), block, block + 256);
    file.insert(file.end(), rText.begin(), rText.end());
    Put(root / "container", "seed-file", file);
    Put(root / "container", "seed-marker", Bytes(block, block + 256));
    Put(root / "container", "seed-record", rText);
    Put(root / "container", "seed-empty-record", rEmpty);

    Bytes rt = {5, 'p', 'a', 's', 's', 'w'};
    rt.insert(rt.end(), text.begin(), text.begin() + 1500);
    Put(root / "roundtrip", "seed-text", rt);
    Put(root / "roundtrip", "seed-binary", [&] { Bytes b = {0}; b.insert(b.end(), binary.begin(), binary.end()); return b; }());
    Put(root / "roundtrip", "seed-run", [] { Bytes b = {2, 0xF9, 0xFA}; b.insert(b.end(), 3000, 'z'); return b; }());

    const char* names[] = {"\x00report.pdf", "\x00..\\..\\Windows\\win.ini", "\x01\x95\x5C.txt", "\x02" "caf\xE9",
                           "\x00" "CON.txt", "\x00 . . "};
    int i = 0;
    for (const char* n : names) {
        const size_t len = 1 + std::strlen(n + 1);
        Put(root / "names", "seed-" + std::to_string(i++), Bytes(n, n + len));
    }
    return 0;
}
