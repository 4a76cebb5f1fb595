// Packing one file into a self-decoding file: the work behind `lumisafe pack`
// and the packer window alike. Checks come first and ask nothing, so a file
// that cannot be packed is refused before the password is asked.
#ifndef LUMISAFE_TOOLS_PACK_H
#define LUMISAFE_TOOLS_PACK_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "codepage.h"
#include "hostfs.h"
#include "sealed.h"
#include "secret.h"

// The zstd level pack uses unless told: on the benchmark corpora it packs
// about as fast as LZAP does (docs/performance.md), with files a third to a
// tenth smaller.
enum { kPackDefaultLevel = 9 };

struct PackRequest {
    std::string input;
    std::string output;   // the self-decoding file, a folder for it, or empty (the stem + .exe here)
    std::string stubPath; // empty: the stub built into the program, beside it, or the build's
    std::string caption;  // UTF-8; used when haveCaption
    bool haveCaption = false;
    bool openAfter = false, savePassword = false, showEncoder = false;
    int selfDeleteMode = 2; // 0 always, 1 on (the user may untick it), 2 off
    bool store = false, lookahead = false, classic = false, force = false;
    uint32_t iterations = kSealedDefaultIterations;
    // A sealed record's codec: zstd at `level` (longWindow: long-distance
    // matching over a 16 MiB window), or LZAP, which the classic form always uses.
    int codec = kSealedCodecZstd;
    int level = kPackDefaultLevel;
    bool longWindow = false;
    bool haveSerial = false;
    uint32_t serial = 0;
    int codepage = kCodepageAuto; // of a non-ASCII password
};

// What the checks found, ready to pack.
struct PackPlan {
    PackRequest request;
    std::string stubPath; // empty for the built-in stub
    std::vector<uint8_t> stub;
    FileMeta meta = {};
    std::string storedName; // in its code page
    std::string caption;    // in its code page, cut to fit
    std::string outputPath;
    std::vector<std::string> warnings;
};

enum PackStage { kPackReading, kPackCompressing, kPackStoring };

// Called as the work goes on; returning false cancels it.
typedef std::function<bool(int stage, uint64_t done, uint64_t total)> PackProgress;

// Returned by PackWrite when the progress callback cancelled: nothing was written.
enum { kPackCancelled = 100 };

struct PackResult {
    std::string outputPath;
    uint64_t fileLength = 0;
    uint32_t contentLength = 0;
    bool stored = false;
    int codec = kSealedCodecRecord; // of the record as written (stored: kSealedCodecRecord)
};

// The default name of the self-decoding file: the input's stem + ".exe".
std::string PackedFileName(const std::string& input);
// The caption proposed for a file: for the classic form "NAME" Decode, as
// that form always had it; for a sealed file one that names nothing.
extern const char kSealedCaption[];
std::string NamedCaption(const std::string& input);
std::string DefaultCaption(const std::string& input, bool classic);
// The stub packed when none is named: the one built into the program, else
// lumisafe-stub.exe beside it, else the build's. *path is empty for the
// built-in one; false with *error set (and *path empty) when there is none.
bool LoadDefaultStub(std::vector<uint8_t>* stub, std::string* path, std::string* error);
// The largest input whose self-decoding file, stored, stays under 2 GiB.
uint64_t LargestInput(uint64_t stubLength, bool classic);

// Checks everything that can be checked without the password: the stub, the
// input, its name and the caption in a Windows code page, the output.
// Returns an exit code (kExitOk) with *error set on failure.
int PackCheck(const PackRequest& request, PackPlan* plan, std::string* error);

// Packs under the typed password (UTF-8) and writes the self-decoding file,
// which appears whole or not at all.
int PackWrite(const PackPlan& plan, const Secret& typedPassword, const PackProgress& progress,
              PackResult* result, std::string* error);

#endif
