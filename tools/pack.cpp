#include "pack.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "cipher.h"
#include "container_write.h"
#include "integrity.h"
#include "lzap.h"
#include "lzap_encode.h"
#include "names.h"
#include "pe.h"
#include "record_write.h"
#include "sealed_write.h"
#include "sfx.h"
#include "zstd_frame_write.h"

#include <zstd.h>

#ifndef LUMISAFE_DEFAULT_STUB
#define LUMISAFE_DEFAULT_STUB ""
#endif

namespace {

std::string Bytes(uint64_t n)
{
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data, uint64_t limit, std::string* error)
{
    std::FILE* f = OpenForReading(path);
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    data->clear();
    std::vector<uint8_t> chunk(1u << 20);
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
        if (data->size() + n > limit) {
            (void)std::fclose(f); // opened for reading: nothing to lose
            *error = path + ": too large for a decoder stub";
            return false;
        }
        data->insert(data->end(), chunk.begin(), chunk.begin() + static_cast<long>(n));
    }
    const bool bad = std::ferror(f) != 0;
    (void)std::fclose(f); // opened for reading: nothing to lose
    if (bad) *error = path + ": read error";
    return !bad;
}

// The stub named on the command line, else the default one.
int LoadStub(const PackRequest& r, PackPlan* plan, std::string* error)
{
    std::string path = r.stubPath;
    if (path.empty()) {
        if (!LoadDefaultStub(&plan->stub, &path, error)) return path.empty() ? kExitUsage : kExitIo;
    } else if (!ReadWholeFile(path, &plan->stub, 64u << 20, error)) {
        return kExitIo;
    }
    plan->stubPath = path;
    // The header's CheckSum and certificate entry as zeros: a signing tool
    // rewrites both, and a reader takes them as zeros again, so a signed file
    // keeps its integrity sum (and a signed stub's entry points nowhere).
    (void)ClearPeFields(plan->stub.data(), plan->stub.size());
    if (!IsUsableStub(plan->stub.data(), plan->stub.size())) {
        *error = (path.empty() ? std::string("the built-in stub") : path) +
                 ": not usable as a stub (its length must be a multiple of 256 and it must hold no marker block)";
        return kExitUsage;
    }
    return kExitOk;
}

// Reads a file of `expected` bytes in pieces of 16 MiB, handing each to take.
int ReadInPieces(const std::string& path, uint64_t expected, int stage,
                 const std::function<void(const uint8_t*, size_t)>& take, const PackProgress& progress,
                 std::string* error)
{
    std::FILE* f = OpenForReading(path);
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return kExitIo;
    }
    std::vector<uint8_t> piece(16u << 20);
    uint64_t done = 0;
    size_t n;
    bool cancelled = false;
    while (!cancelled && (n = std::fread(piece.data(), 1, piece.size(), f)) > 0) {
        take(piece.data(), n);
        done += n;
        if (progress && !progress(stage, done, expected)) cancelled = true;
    }
    const bool bad = std::ferror(f) != 0;
    (void)std::fclose(f); // opened for reading: nothing to lose
    if (cancelled) return kPackCancelled;
    if (bad) *error = path + ": read error";
    else if (done != expected) *error = path + ": changed while it was read";
    return !bad && done == expected ? kExitOk : kExitIo;
}

enum CompressOutcome { kCompressed, kStore };

// Compresses the record (head, then the input read in pieces) into payload.
// kStore as soon as the stream would not be smaller than the record.
int CompressRecord(const PackPlan& plan, const uint8_t* head, uint64_t recordLength, std::vector<uint8_t>* payload,
                   const PackProgress& progress, int* outcome, std::string* error)
{
    std::unique_ptr<LzapEncoder, void (*)(LzapEncoder*)> encoder(LzapEncoderCreate(), LzapEncoderDestroy);
    if (!encoder) {
        *error = "out of memory";
        return kExitIo;
    }
    LzapEncoderSetLazy(encoder.get(), plan.request.lookahead ? 1 : 0);
    payload->resize(kLzapHeaderSize);
    LzapCompressBegin(encoder.get(), static_cast<uint32_t>(recordLength), payload->data());
    std::vector<uint8_t> window(head, head + kRecordContentOffset), out;
    bool tooLarge = false;
    const auto compress = [&](bool last) {
        out.resize(LzapCompressBound(static_cast<uint32_t>(window.size())));
        uint32_t taken = 0;
        out.resize(LzapCompressSome(encoder.get(), window.data(), static_cast<uint32_t>(window.size()), last,
                                    out.data(), &taken));
        window.erase(window.begin(), window.begin() + taken);
        if (payload->size() + out.size() >= recordLength) tooLarge = true;
        else payload->insert(payload->end(), out.begin(), out.end());
    };
    const int rc = ReadInPieces(plan.request.input, recordLength - kRecordContentOffset, kPackCompressing,
                                [&](const uint8_t* p, size_t n) {
                                    if (tooLarge) return;
                                    window.insert(window.end(), p, p + n);
                                    compress(false);
                                },
                                progress, error);
    if (rc != kExitOk) return rc;
    if (!tooLarge) compress(true);
    uint8_t tail[8];
    const size_t t = LzapCompressEnd(encoder.get(), tail);
    if (tooLarge || payload->size() + t >= recordLength) {
        *outcome = kStore;
        return kExitOk;
    }
    payload->insert(payload->end(), tail, tail + t);
    *outcome = kCompressed;
    return kExitOk;
}

// Compresses the record into one zstd frame in payload, the input read in
// pieces. kStore as soon as the frame would not be smaller than the record.
int CompressRecordZstd(const PackPlan& plan, const uint8_t* head, uint64_t recordLength, std::vector<uint8_t>* payload,
                       const PackProgress& progress, int* outcome, std::string* error)
{
    std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    if (!context || !ZstdWriterSetup(context.get(), plan.request.level, plan.request.longWindow, recordLength)) {
        *error = "could not set up the compressor";
        return kExitIo;
    }
    payload->clear();
    bool tooLarge = false, failed = false;
    std::vector<uint8_t> out(ZSTD_CStreamOutSize());
    const auto feed = [&](const uint8_t* p, size_t n, bool last) {
        ZSTD_inBuffer in = {p, n, 0};
        for (;;) {
            ZSTD_outBuffer o = {out.data(), out.size(), 0};
            const size_t left = ZSTD_compressStream2(context.get(), &o, &in, last ? ZSTD_e_end : ZSTD_e_continue);
            if (ZSTD_isError(left)) {
                failed = true;
                return;
            }
            if (payload->size() + o.pos >= recordLength) {
                tooLarge = true;
                return;
            }
            payload->insert(payload->end(), out.data(), out.data() + o.pos);
            if (last ? left == 0 : in.pos == in.size) return;
        }
    };
    feed(head, kRecordContentOffset, recordLength == kRecordContentOffset);
    const int rc = ReadInPieces(plan.request.input, recordLength - kRecordContentOffset, kPackCompressing,
                                [&](const uint8_t* p, size_t n) {
                                    if (!tooLarge && !failed) feed(p, n, false);
                                },
                                progress, error);
    if (rc != kExitOk) return rc;
    if (!tooLarge && !failed && recordLength > kRecordContentOffset) feed(nullptr, 0, true);
    if (failed) {
        *error = "the compressor failed";
        return kExitIo;
    }
    *outcome = tooLarge ? kStore : kCompressed;
    return kExitOk;
}

// The stored name and the caption, in the code page the decoding machine shows.
int ConvertNames(const PackRequest& r, PackPlan* plan, std::string* error)
{
    const std::string base = BaseName(r.input);
    const int nameCp = IsValidUtf8(base) ? ChooseCodepageFor(base) : 0;
    if (!nameCp || !Utf8ToCodepage(base, nameCp, &plan->storedName)) {
        *error = base + ": the name fits neither code page 1252 nor 932; rename the file";
        return kExitUsage;
    }
    if (plan->storedName.size() >= kRecordFileNameSize) {
        *error = base + ": the name is longer than 259 bytes";
        return kExitUsage;
    }
    const std::string captionUtf8 = r.haveCaption ? r.caption : DefaultCaption(r.input, r.classic);
    const int captionCp = IsValidUtf8(captionUtf8) ? ChooseCodepageFor(captionUtf8) : 0;
    std::string caption;
    if (!captionCp || !Utf8ToCodepage(captionUtf8, captionCp, &caption)) {
        *error = "the caption fits neither code page 1252 nor 932";
        return kExitUsage;
    }
    plan->caption = CutToBytes(caption, kMarkerCaptionMaxText, captionCp);
    if (plan->caption.size() < caption.size())
        plan->warnings.push_back("the caption is " + Bytes(caption.size()) + " long; it is cut to " +
                                 Bytes(plan->caption.size()));
    // The decoder saves under the name Windows allows; say so now, not there.
    const std::string windowsName = SafeOutputName(plan->storedName, nameCp);
    if (windowsName != base)
        plan->warnings.push_back("Windows cannot use the name '" + base + "' as it is; it will be offered as '" +
                                 windowsName + "'");
    return kExitOk;
}

int CheckOutput(const PackRequest& r, PackPlan* plan, std::string* error)
{
    std::string out = r.output;
    if (out.empty() || IsDirectory(out)) out = JoinPath(out, PackedFileName(r.input));
    // Never replace the input (or the stub), however the output is spelled.
    const bool input = SameFile(out, r.input);
    if (input || (!plan->stubPath.empty() && SameFile(out, plan->stubPath))) {
        *error = out + ": would replace the " + (input ? "input" : "stub") + "; choose another output with -o";
        return kExitUsage;
    }
    if (!r.force && PathExists(out)) {
        *error = out + ": exists (use --force to overwrite)";
        return kExitIo;
    }
    plan->outputPath = out;
    return kExitOk;
}

// The password as the decoding machine's user types it: bytes of a Windows code page.
int PasswordBytes(const Secret& typed, int codepage, Secret* password, std::string* error)
{
    if (typed.length == 0) {
        *error = "the password is empty";
        return kExitUsage;
    }
    if (!PasswordInCodepage(typed, codepage, password)) {
        *error = "the password has characters that its code page cannot hold";
        return kExitUsage;
    }
    if (password->length > kDecoderPasswordMax) {
        *error = "the password is longer than the " + std::to_string(kDecoderPasswordMax) +
                 " bytes the decoder's password field takes";
        return kExitUsage;
    }
    return kExitOk;
}

// The record's header, with the contents' check value from a first reading.
int BuildRecordHead(const PackPlan& plan, const PackProgress& progress, uint8_t* head, uint32_t* contentLength,
                    std::string* error)
{
    RecordHeader h = {};
    h.contentLength = static_cast<uint32_t>(plan.meta.size);
    h.attributes = plan.meta.attributes;
    h.creationTime = plan.meta.creationTime;
    h.lastAccessTime = plan.meta.lastAccessTime;
    h.lastWriteTime = plan.meta.lastWriteTime;
    std::memcpy(h.fileName, plan.storedName.data(), plan.storedName.size());
    h.encoderSerial = plan.request.haveSerial ? plan.request.serial : MachineSerial();
    const time_t now = std::time(nullptr);
    h.createdAt = now > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(now);
    uint32_t crc = 0;
    const int rc = ReadInPieces(plan.request.input, plan.meta.size, kPackReading,
                                [&](const uint8_t* p, size_t n) { crc = Crc32(crc, p, n); }, progress, error);
    if (rc != kExitOk) return rc;
    WriteRecordHeaderWithCheck(head, &h, crc);
    *contentLength = h.contentLength;
    return kExitOk;
}

// The record, compressed or (when that does not pay) stored.
int BuildRecord(const PackPlan& plan, const uint8_t* head, const PackProgress& progress, std::vector<uint8_t>* payload,
                bool* stored, int* codec, std::string* error)
{
    const PackRequest& r = plan.request;
    const uint64_t recordLength = kRecordContentOffset + plan.meta.size;
    // Room for the largest payload up front: the stored record, sealed.
    // PackCheck kept the record under 2 GiB, so it fits a size_t everywhere.
    const size_t record = static_cast<size_t>(recordLength);
    payload->reserve(r.classic ? record : SealedPayloadSize(record, kSealedDefaultChunkShift));
    *stored = r.store;
    *codec = !r.classic && r.codec == kSealedCodecZstd ? kSealedCodecZstd : kSealedCodecRecord;
    if (!*stored) {
        int outcome = kCompressed;
        const int rc = *codec == kSealedCodecZstd
                           ? CompressRecordZstd(plan, head, recordLength, payload, progress, &outcome, error)
                           : CompressRecord(plan, head, recordLength, payload, progress, &outcome, error);
        if (rc != kExitOk) return rc;
        *stored = outcome == kStore;
    }
    if (!*stored) return kExitOk;
    *codec = kSealedCodecRecord;
    payload->assign(head, head + kRecordContentOffset);
    return ReadInPieces(r.input, plan.meta.size, kPackStoring,
                        [&](const uint8_t* p, size_t n) { payload->insert(payload->end(), p, p + n); }, progress,
                        error);
}

// Enciphers (classic) or seals in place, which binds the marker block's
// caption and flags to the payload.
int ProtectPayload(const PackPlan& plan, const Secret& password, const uint8_t* block, int codec,
                   std::vector<uint8_t>* payload, std::string* error)
{
    const size_t packedLength = payload->size();
    if (plan.request.classic) {
        Secret key(password.length + kKeyStringSlack);
        MakeKeyString(password, &key);
        if (!EncipherPayload(payload->data(), static_cast<uint32_t>(packedLength), SecretText(key),
                             static_cast<uint32_t>(key.length))) {
            *error = "could not encode the payload";
            return kExitIo;
        }
        return kExitOk;
    }
    payload->resize(SealedPayloadSize(packedLength, kSealedDefaultChunkShift));
    size_t sealedLength = 0;
    const SealedCoding coding = {static_cast<uint32_t>(codec),
                                 codec == kSealedCodecZstd ? static_cast<uint32_t>(plan.request.level) : 0};
    const int rc = SealPayloadInPlaceCoded(payload->data(), packedLength, payload->size(), block, password.bytes,
                                           static_cast<uint32_t>(password.length), plan.request.iterations,
                                           kSealedDefaultChunkShift, &coding, nullptr, nullptr, &sealedLength);
    if (rc != kSealedOk) {
        *error = "could not seal the payload";
        return kExitIo;
    }
    payload->resize(sealedLength);
    return kExitOk;
}

int WriteSelfDecodingFile(const PackPlan& plan, const uint8_t* block, const std::vector<uint8_t>& payload,
                          std::string* error)
{
    PendingFile out;
    if (!PendingOpen(&out, plan.outputPath, true, error) || !PendingWrite(&out, plan.stub.data(), plan.stub.size(), error) ||
        !PendingWrite(&out, block, kMarkerBlockSize, error) ||
        !PendingWrite(&out, payload.data(), payload.size(), error) ||
        !PendingCommit(&out, nullptr, plan.request.force, error)) {
        PendingAbandon(&out);
        return kExitIo;
    }
    return kExitOk;
}

} // namespace

std::string PackedFileName(const std::string& input)
{
    std::string stem = BaseName(input);
    const size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0) stem.resize(dot);
    return stem + ".exe";
}

const char kSealedCaption[] = "Decode sealed file";

bool LoadDefaultStub(std::vector<uint8_t>* stub, std::string* path, std::string* error)
{
    path->clear();
    if (BuiltInStub(stub)) return true;
    const std::string beside = JoinPath(ExecutableDir(), "lumisafe-stub.exe");
    const std::string built = LUMISAFE_DEFAULT_STUB;
    if (PathExists(beside)) *path = beside;
    else if (!built.empty() && PathExists(built)) *path = built;
    if (path->empty()) {
        *error = "no decoder stub found: build the win32 preset, or name one with --stub";
        return false;
    }
    return ReadWholeFile(*path, stub, 64u << 20, error);
}

std::string NamedCaption(const std::string& input)
{
    return "\"" + BaseName(input) + "\" Decode";
}

std::string DefaultCaption(const std::string& input, bool classic)
{
    // The caption is public, in clear in the marker block: a sealed file's
    // name is part of what it keeps private.
    return classic ? NamedCaption(input) : kSealedCaption;
}

uint64_t LargestInput(uint64_t stubLength, bool classic)
{
    const uint64_t room = 0x7FFFFFFFull - stubLength - kMarkerBlockSize; // payload bytes at most
    uint64_t record = room;
    if (!classic) {
        // A sealed payload adds its header and a tag per chunk.
        const uint64_t chunk = uint64_t{1} << kSealedDefaultChunkShift;
        record = (room - kSealedHeaderSize) / (chunk + kSealedTagSize) * chunk;
        const uint64_t rest = (room - kSealedHeaderSize) % (chunk + kSealedTagSize);
        if (rest > kSealedTagSize) record += rest - kSealedTagSize;
    }
    return record > kRecordContentOffset ? record - kRecordContentOffset : 0;
}

int PackCheck(const PackRequest& r, PackPlan* plan, std::string* error)
{
    *plan = PackPlan();
    plan->request = r;
    int rc = LoadStub(r, plan, error);
    if (rc != kExitOk) return rc;
    if (IsDirectory(r.input)) {
        *error = r.input + ": is a folder; lumisafe packs one file";
        return kExitUsage;
    }
    if (!StatFile(r.input, &plan->meta, error)) return kExitIo;
    // Refused from its size, before anything is read: the file must fit
    // even when it does not compress.
    const uint64_t largest = LargestInput(plan->stub.size(), r.classic);
    if (plan->meta.size > largest) {
        *error = r.input + ": " + Bytes(plan->meta.size) + "; a self-decoding file holds at most " + Bytes(largest) +
                 " (it must stay under 2 GiB with this stub" + (r.classic ? ")" : ", sealed)");
        return kExitUsage;
    }
    rc = ConvertNames(r, plan, error);
    if (rc != kExitOk) return rc;
    return CheckOutput(r, plan, error);
}

int PackWrite(const PackPlan& plan, const Secret& typedPassword, const PackProgress& progress,
              PackResult* result, std::string* error)
{
    const PackRequest& r = plan.request;
    Secret password;
    int rc = PasswordBytes(typedPassword, r.codepage, &password, error);
    if (rc != kExitOk) return rc;
    uint8_t head[kRecordContentOffset];
    std::vector<uint8_t> payload;
    bool stored = false;
    int codec = kSealedCodecRecord;
    rc = BuildRecordHead(plan, progress, head, &result->contentLength, error);
    if (rc == kExitOk) rc = BuildRecord(plan, head, progress, &payload, &stored, &codec, error);
    if (rc != kExitOk) return rc;

    MarkerFields fields;
    fields.caption = plan.caption.c_str();
    fields.captionLength = static_cast<uint32_t>(plan.caption.size());
    fields.openAfterDecode = r.openAfter ? 1 : 0;
    fields.selfDeleteMode = static_cast<uint8_t>(r.selfDeleteMode);
    fields.allowSavePassword = r.savePassword ? 1 : 0;
    fields.showEncoderInfo = r.showEncoder ? 1 : 0;
    fields.form = static_cast<uint8_t>(r.classic ? kFormClassic : kFormSealed);
    // Stated before sealing, which binds the marker block to the payload.
    const size_t payloadLength = r.classic ? payload.size() : SealedPayloadSize(payload.size(), kSealedDefaultChunkShift);
    fields.payloadLength = static_cast<uint32_t>(payloadLength);
    uint8_t block[kMarkerBlockSize];
    FillMarkerBlock(block, &fields);

    rc = ProtectPayload(plan, password, block, codec, &payload, error);
    SecretClear(&password);
    if (rc != kExitOk) return rc;
    if (payload.size() != payloadLength) {
        *error = "the payload's length is not the one stated";
        return kExitIo;
    }
    if (plan.stub.size() + kMarkerBlockSize + payload.size() >= 0x80000000ull) {
        *error = r.input + ": the self-decoding file would pass 2 GiB";
        return kExitUsage;
    }
    ComputeIntegritySum(plan.stub.data(), plan.stub.size(), payload.data(), payload.size(),
                        block + kMarkerOffsetIntegritySum);
    rc = WriteSelfDecodingFile(plan, block, payload, error);
    if (rc != kExitOk) return rc;
    result->outputPath = plan.outputPath;
    result->fileLength = plan.stub.size() + kMarkerBlockSize + payload.size();
    result->stored = stored;
    result->codec = codec;
    return kExitOk;
}
