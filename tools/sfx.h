// Reading and decoding self-decoding files from the host's file system.
#ifndef LUMISAFE_TOOLS_SFX_H
#define LUMISAFE_TOOLS_SFX_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "marker.h"
#include "record.h"
#include "sealed.h"
#include "secret.h"

// The tool's exit codes, one per kind of failure.
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitWrongPassword = 2,
    kExitIntegrity = 3,
    kExitNotSfx = 4,
    kExitDamaged = 5,
    kExitIo = 6,
    kExitNewer = 7, // made by a newer version: an unknown payload form, version or key derivation
};

struct SfxLayout {
    uint64_t fileLength = 0;
    uint64_t markerOffset = 0;
    uint64_t payloadOffset = 0;
    uint64_t payloadLength = 0;
    MarkerSettings settings = {};
    uint8_t computedSum[16] = {};
    bool integrityOk = false;
    uint8_t marker[kMarkerBlockSize] = {}; // the marker block as stored
    uint32_t form = 0;                     // kFormClassic or kFormSealed (or unknown)
    uint8_t payloadHead[kSealedHeaderSize] = {}; // the payload's first bytes
    size_t payloadHeadLength = 0;
    bool lengthStated = false;     // the marker block states the payload's length
    uint64_t signatureOffset = 0;  // an Authenticode certificate table after the payload
    uint64_t signatureSize = 0;    // (0 when the file carries none)
};

// Reads the file in large chunks: finds the marker block in 256-byte pieces,
// sums the stub and the payload, and (when payload is not null) keeps the
// payload, up to its stated length. A signature after it (padding and
// certificate table) is recognised and left out of the sum; anything else
// after it is a changed file. Returns kExitOk, kExitNotSfx, kExitIntegrity or
// kExitIo with *error set.
int ReadSfx(const std::string& path, SfxLayout* layout, std::vector<uint8_t>* payload,
            std::string* error, const std::function<void(uint64_t done, uint64_t total)>& progress = nullptr);

// True when a marker block stands within the file's first `limit` bytes:
// a quick look, so that a password can be asked before a long read.
bool MarkerNearStart(const std::string& path, size_t limit);

// Receives a decoded record: Begin with the header before any contents, then
// the contents in order. Either returns false to stop the decode.
struct RecordSink {
    std::function<bool(const RecordHeader&)> begin;
    std::function<bool(const uint8_t*, size_t)> write;
    std::function<void(uint64_t done, uint64_t total)> progress;
};

enum DecodeResult {
    kDecodeOk,
    kDecodeWrong,    // neither the stream's magic nor the record's header: a wrong password, or damage beyond telling
    kDecodeShort,    // payload shorter than 2 bytes
    kDecodeSinkFailed,
    kDecodeDamaged,   // the password is as good as proven (magic, header, tags) and then the data fails
    // Sealed form only: the file says what it is.
    kDecodeTampered,  // caption or flags changed
    kDecodeNewer,     // unknown form version or key derivation
    kDecodeFailed,    // the cryptography failed to run
};

// Deciphers the payload in place under the key string and streams the
// record to the sink without holding the decoded record in memory. On any
// result but kDecodeOk the payload is enciphered again, so the caller can try
// another key.
int DecodePayload(std::vector<uint8_t>* payload, const Secret& key, RecordSink* sink,
                  RecordHeader* header);

// Opens a sealed payload in place under the password bytes (every tag is
// checked before any plaintext is used), then streams the record to the sink.
// Returns kDecodeWrong only for a wrong password; after a right one, failures
// are damage.
int DecodeSealedPayload(std::vector<uint8_t>* payload, const uint8_t* marker, const Secret& password,
                        RecordSink* sink, RecordHeader* header);

// The classic form's key string, into key (of at least the password's
// length plus kKeyStringSlack bytes).
void MakeKeyString(const Secret& password, Secret* key);

#endif
