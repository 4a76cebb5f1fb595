#include "sfx.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>

#include "bytes.h"
#include "hostfs.h"
#include "cipher.h"
#include "integrity.h"
#include "layout.h"
#include "lzap.h"
#include "zstd_frame.h"
#include "pe.h"

namespace {

// Large reads, in whole 256-byte pieces, keep the marker search and the
// integrity sum exactly as a piece-by-piece reader would do them.
const size_t kChunk = 1u << 20;

// A self-decoding file stays under 2 GiB: its offsets are signed 32-bit
// numbers on the decoding side.
const uint64_t kMaxFileLength = 0x7FFFFFFFull;

struct FileCloser {
    void operator()(std::FILE* f) const { (void)std::fclose(f); } // read-only
};

// The payload's first bytes (a sealed header) for info and verify, which do
// not keep the payload.
void KeepPayloadHead(SfxLayout* layout, const uint8_t* data, size_t n)
{
    const size_t take = std::min(n, sizeof layout->payloadHead - layout->payloadHeadLength);
    std::memcpy(layout->payloadHead + layout->payloadHeadLength, data, take);
    layout->payloadHeadLength += take;
}

} // namespace

int ReadSfx(const std::string& path, SfxLayout* layout, std::vector<uint8_t>* payload,
            std::string* error, const std::function<void(uint64_t done, uint64_t total)>& progress)
{
    std::unique_ptr<std::FILE, FileCloser> f(OpenForReading(path));
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return kExitIo;
    }
    *layout = SfxLayout();
    // The format's limit is checked before anything is read: a larger file
    // would cost its whole size in time and memory only to be refused.
    uint64_t fileSize = 0;
    if (OpenFileSize(f.get(), &fileSize) && fileSize > kMaxFileLength) {
        *error = path + ": larger than 2 GiB: not a self-decoding file";
        return kExitNotSfx;
    }
    char marker[kMarkerTextLength + 1];
    BuildMarkerText(marker);
    uint8_t lanes[16] = {0};
    std::vector<uint8_t> chunk(kChunk);
    // The stub's PE fields that signing rewrites, as the first piece has them.
    PeFields pe = {};
    bool havePe = false;
    uint8_t peBytes[kPeCheckSumSize + kPeCertEntrySize] = {};
    uint32_t certOffset = 0, certSize = 0;
    bool found = false;
    uint64_t offset = 0;
    // What cannot be sized (a pipe, a device) or grows while it is read is
    // read no further than the limit either.
    uint64_t readSoFar = 0;
    const auto tooLarge = [&](size_t n) {
        readSoFar += n;
        if (readSoFar <= kMaxFileLength) return false;
        *error = path + ": larger than 2 GiB: not a self-decoding file";
        return true;
    };
    // The payload's bytes, up to its stated length (all of them in an older
    // file); what follows is a signature's padding and table.
    uint64_t payloadLimit = UINT64_MAX;
    uint8_t trailerHead[kMaxSignaturePadding + 1] = {};
    uint64_t trailerLength = 0;
    const auto takePayload = [&](const uint8_t* data, size_t n) {
        const uint64_t room = payloadLimit - layout->payloadLength;
        const size_t take = static_cast<size_t>(std::min<uint64_t>(n, room));
        AddIntegrityLanes(lanes, data, take);
        KeepPayloadHead(layout, data, take);
        if (payload) payload->insert(payload->end(), data, data + take);
        layout->payloadLength += take;
        for (size_t i = take; i < n; ++i, ++trailerLength)
            if (trailerLength < sizeof trailerHead) trailerHead[trailerLength] = data[i];
    };
    while (!found) {
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), f.get());
        if (n == 0) break;
        if (tooLarge(n)) return kExitNotSfx;
        if (offset == 0 && FindPeFields(chunk.data(), n, &pe)) {
            havePe = true;
            std::memcpy(peBytes, chunk.data() + pe.checkSumOffset, kPeCheckSumSize);
            std::memcpy(peBytes + kPeCheckSumSize, chunk.data() + pe.certEntryOffset, kPeCertEntrySize);
            ReadCertEntry(chunk.data(), n, &certOffset, &certSize);
        }
        size_t piece = 0;
        while (piece < n) {
            const size_t len = n - piece < kMarkerBlockSize ? n - piece : size_t{kMarkerBlockSize};
            if (IsMarkerPiece(chunk.data() + piece, len, marker)) {
                found = true;
                break;
            }
            piece += len;
        }
        AddIntegrityLanes(lanes, chunk.data(), piece);
        offset += piece;
        if (progress) progress(offset, fileSize);
        if (found) {
            ReadMarkerSettings(chunk.data() + piece, &layout->settings);
            std::memcpy(layout->marker, chunk.data() + piece, kMarkerBlockSize);
            layout->form = MarkerForm(layout->marker);
            const uint32_t stated = LoadLE32(layout->marker + kMarkerOffsetPayloadLength);
            if (stated) payloadLimit = stated;
            // The payload is kept in one piece, taken once: grown by doubling
            // it would need up to twice its size for a moment.
            if (payload && fileSize > offset + kMarkerBlockSize)
                payload->reserve(static_cast<size_t>(std::min<uint64_t>(payloadLimit, fileSize - offset - kMarkerBlockSize)));
            takePayload(chunk.data() + piece + kMarkerBlockSize, n - piece - kMarkerBlockSize);
        }
        if (n < chunk.size()) break;
    }
    if (std::ferror(f.get())) {
        *error = path + ": read error";
        return kExitIo;
    }
    if (!found) {
        *error = path + ": no marker block: not a self-decoding file";
        return kExitNotSfx;
    }
    layout->markerOffset = offset;
    layout->payloadOffset = offset + kMarkerBlockSize;
    // The rest of the payload; only its last piece may be shorter than a
    // chunk, so only the payload's last P mod 16 bytes stay out of the sum.
    // The first part above ended a chunk and so is a multiple of 256 long
    // unless it was the end of the file.
    for (;;) {
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), f.get());
        if (n == 0) break;
        if (tooLarge(n)) return kExitNotSfx;
        takePayload(chunk.data(), n);
        if (progress) progress(layout->payloadOffset + layout->payloadLength + trailerLength, fileSize);
        if (n < chunk.size()) break;
    }
    if (std::ferror(f.get())) {
        *error = path + ": read error";
        return kExitIo;
    }
    layout->fileLength = layout->payloadOffset + layout->payloadLength + trailerLength;
    // What follows the payload must be what signing leaves, and nothing else.
    PayloadExtent extent;
    if (!ResolvePayloadExtent(static_cast<uint32_t>(layout->fileLength), static_cast<uint32_t>(layout->markerOffset),
                              layout->marker, certOffset, certSize, &extent) ||
        extent.payloadLength != layout->payloadLength ||
        !IsZeroPadding(trailerHead, std::min<size_t>(extent.paddingLength, sizeof trailerHead))) {
        *error = path + ": changed after it was made: its length, or what follows its payload, is not what packing "
                        "or signing leaves";
        return kExitIntegrity;
    }
    layout->lengthStated = extent.stated != 0;
    layout->signatureOffset = extent.certOffset;
    layout->signatureSize = extent.certSize;
    // A file that states its length was packed with these fields as zeros.
    if (extent.stated && havePe) SubtractIntegrityBytes(lanes, pe.checkSumOffset, peBytes, kPeCheckSumSize);
    if (extent.stated && havePe)
        SubtractIntegrityBytes(lanes, pe.certEntryOffset, peBytes + kPeCheckSumSize, kPeCertEntrySize);
    std::memcpy(layout->computedSum, lanes, 16);
    layout->integrityOk = IntegritySumsEqual(lanes, layout->settings.integritySum) != 0;
    return kExitOk;
}

bool MarkerNearStart(const std::string& path, size_t limit)
{
    std::unique_ptr<std::FILE, FileCloser> f(OpenForReading(path));
    if (!f) return false;
    uint64_t size = 0;
    const bool sized = OpenFileSize(f.get(), &size);
    if (sized && size > kMaxFileLength) return false; // refused before a password is asked
    // No more room than the file needs, and none of it zeroed: this runs
    // before every decode, and a small file should not pay for 4 MiB.
    const size_t room = sized && size < limit ? static_cast<size_t>(size) : limit;
    const std::unique_ptr<uint8_t[]> head(new uint8_t[room ? room : 1]);
    const size_t n = std::fread(head.get(), 1, room, f.get());
    return FindMarkerInBuffer(head.get(), n) + kMarkerBlockSize <= n;
}

void MakeKeyString(const Secret& password, Secret* key)
{
    SecretClear(key);
    key->length = BuildKeyString(password.bytes, static_cast<uint32_t>(password.length),
                                 reinterpret_cast<char*>(key->bytes), static_cast<uint32_t>(key->capacity));
}

// Nonzero when the record starts with a header whose size field reads 304:
// with a wrong password that happens once in 2^32 tries, so what fails after
// it is damage.
static int PlausibleHeader(const std::vector<uint8_t>& record)
{
    return record.size() >= 5 && LoadLE32(record.data() + 1) == kRecordHeaderSize;
}

// A stored record: the deciphered payload is the record.
static int DecodeStored(const std::vector<uint8_t>& record, RecordSink* sink, RecordHeader* header)
{
    if (ReadRecord(record.data(), static_cast<uint32_t>(record.size()), header) != kRecordOk)
        return PlausibleHeader(record) ? kDecodeDamaged : kDecodeWrong;
    if (!sink->begin(*header)) return kDecodeSinkFailed;
    const uint8_t* content = record.data() + kRecordContentOffset;
    uint64_t done = 0;
    while (done < header->contentLength) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, header->contentLength - done));
        if (!sink->write(content + done, n)) return kDecodeSinkFailed;
        done += n;
        if (sink->progress) sink->progress(done, header->contentLength);
    }
    return kDecodeOk;
}

// A record as it comes out of a decoder, piece by piece: the header is
// gathered and checked first, then the contents go to the sink while their
// CRC is taken along the way.
struct RecordFeed {
    uint8_t head[kRecordContentOffset];
    uint64_t produced = 0;   // decoded bytes so far
    bool haveHeader = false;
    uint64_t contentEnd = 0; // record offset where the contents stop
    uint32_t crc = 0;
    uint32_t bound = 0;      // the header's content length is held against this,
    bool exact = false;      // and must fill it exactly (a zstd frame states its size)
};

// Takes the next n bytes of the record: kDecodeOk to go on, kDecodeDamaged
// or kDecodeSinkFailed to stop.
static int FeedRecord(RecordFeed* r, const uint8_t* p, size_t n, RecordSink* sink, RecordHeader* header)
{
    uint64_t at = r->produced;
    r->produced += n;
    if (!r->haveHeader) {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(kRecordContentOffset - at, n));
        std::memcpy(r->head + at, p, take);
        p += take;
        at += take;
        if (at < kRecordContentOffset) return kDecodeOk;
        // Only the 305 bytes in head are read.
        if (ReadRecordHeader(r->head, r->bound, header) != kRecordOk ||
            (r->exact && kRecordContentOffset + uint64_t{header->contentLength} != r->bound))
            return kDecodeDamaged;
        r->haveHeader = true;
        r->contentEnd = kRecordContentOffset + static_cast<uint64_t>(header->contentLength);
        if (!sink->begin(*header)) return kDecodeSinkFailed;
    }
    const uint64_t end = std::min<uint64_t>(r->produced, r->contentEnd);
    if (end > at) {
        const size_t len = static_cast<size_t>(end - at);
        r->crc = Crc32(r->crc, p, len);
        if (!sink->write(p, len)) return kDecodeSinkFailed;
    }
    return kDecodeOk;
}

// Once the decoder has ended: the whole contents came, and their check holds.
static int FinishRecord(const RecordFeed& r, RecordHeader* header)
{
    if (!r.haveHeader || r.produced < r.contentEnd) return kDecodeDamaged;
    uint32_t expected;
    if (HasContentCheck(header, &expected) && expected != r.crc) return kDecodeDamaged;
    header->fileName[kRecordFileNameSize - 1] = 0;
    return kDecodeOk;
}

// A compressed record, decoded a chunk at a time.
static int DecodeStream(const std::vector<uint8_t>& stream, RecordSink* sink, RecordHeader* header)
{
    std::unique_ptr<LzapDecoder> d(new LzapDecoder);
    d->busy = 0;
    // The stream's magic already matched, which a wrong password does once in
    // 2^32 tries: from here on, every failure is damage.
    if (!LzapDecodeBegin(d.get(), stream.data(), static_cast<uint32_t>(stream.size())))
        return kDecodeDamaged;
    const uint32_t declared = d->outputSize;
    // A small record needs no more than its own size and the overrun of the
    // last string; LzapDecodeSome moves on while 128 bytes of the chunk are free.
    const size_t chunkSize = std::min<size_t>(kChunk, static_cast<size_t>(declared) + size_t{2} * kLzapMaxString);
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[chunkSize]); // no need to zero it
    RecordFeed r;
    // The record may use every byte the stream produces, and the last string
    // may run up to 127 bytes past the declared size, so the content length
    // is first held against that bound and, once the stream has ended,
    // against what it really produced.
    r.bound = declared + (kLzapMaxString - 1);
    while (d->status == kLzapMore) {
        const uint32_t n = LzapDecodeSome(d.get(), buffer.get(), static_cast<uint32_t>(chunkSize));
        if (d->status == kLzapDamaged) return kDecodeDamaged;
        const int rc = FeedRecord(&r, buffer.get(), n, sink, header);
        if (rc != kDecodeOk) return rc;
        if (sink->progress) sink->progress(std::min<uint64_t>(r.produced, declared), declared);
    }
    return d->status == kLzapDone ? FinishRecord(r, header) : kDecodeDamaged;
}

// A record in one zstd frame (sealed form, codec 1): proven by the tags, so
// every failure is damage, except a window this version will not hold.
static int DecodeZstd(const std::vector<uint8_t>& frame, RecordSink* sink, RecordHeader* header)
{
    ZstdExpander e;
    if (ZstdExpandBegin(&e, frame.data(), frame.size(), kMaxFileLength) != kZstdMore)
        return e.status == kZstdNewer ? kDecodeNewer : e.status == kZstdNoMemory ? kDecodeFailed : kDecodeDamaged;
    const std::unique_ptr<ZstdExpander, void (*)(ZstdExpander*)> release(&e, ZstdExpandEnd);
    const uint64_t declared = e.contentSize; // at most kMaxFileLength
    const size_t chunkSize = static_cast<size_t>(std::min<uint64_t>(kChunk, declared));
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[chunkSize ? chunkSize : 1]);
    RecordFeed r;
    r.bound = static_cast<uint32_t>(declared);
    r.exact = true;
    while (e.status == kZstdMore) {
        const uint32_t n = ZstdExpandSome(&e, buffer.get(), static_cast<uint32_t>(chunkSize));
        if (e.status == kZstdDamaged) return kDecodeDamaged;
        const int rc = FeedRecord(&r, buffer.get(), n, sink, header);
        if (rc != kDecodeOk) return rc;
        if (sink->progress) sink->progress(r.produced, declared);
    }
    return e.status == kZstdDone ? FinishRecord(r, header) : kDecodeDamaged;
}

int DecodePayload(std::vector<uint8_t>* payload, const Secret& key, RecordSink* sink,
                  RecordHeader* header)
{
    const uint32_t length = static_cast<uint32_t>(payload->size());
    if (length < 2) return kDecodeShort;
    const uint32_t keyLength = static_cast<uint32_t>(key.length);
    DecipherPayload(payload->data(), length, SecretText(key), keyLength);
    const int result = LzapHasHeader(payload->data(), length) ? DecodeStream(*payload, sink, header)
                                                              : DecodeStored(*payload, sink, header);
    if (result != kDecodeOk) EncipherPayload(payload->data(), length, SecretText(key), keyLength);
    return result;
}

int DecodeSealedPayload(std::vector<uint8_t>* payload, const uint8_t* marker, const Secret& password,
                        RecordSink* sink, RecordHeader* header)
{
    // The codec is read before opening, which leaves plaintext where the header was.
    SealedHeader h = {};
    const int parsed = ParseSealedHeader(payload->data(), payload->size(), &h);
    if (parsed == kSealedNewer) return kDecodeNewer;
    const size_t scratchSize = size_t{1} << kSealedMaxChunkShift;
    const std::unique_ptr<uint8_t[]> scratch(new uint8_t[scratchSize]); // written before it is read
    size_t plainLength = 0;
    const int rc = OpenSealedPayload(payload->data(), payload->size(), marker, password.bytes,
                                     static_cast<uint32_t>(password.length), scratch.get(), scratchSize,
                                     &plainLength);
    switch (rc) {
    case kSealedOk: break;
    case kSealedWrongPassword: return kDecodeWrong;
    case kSealedTampered: return kDecodeTampered;
    case kSealedDamaged: return kDecodeDamaged;
    case kSealedNewer: return kDecodeNewer;
    default: return kDecodeFailed;
    }
    // The plaintext is proven to be what the encoder sealed, so a record that
    // does not decode now is damage (or an encoder fault), never the password.
    payload->resize(plainLength);
    const int result = h.codec == kSealedCodecZstd ? DecodeZstd(*payload, sink, header)
                       : LzapHasHeader(payload->data(), static_cast<uint32_t>(plainLength))
                           ? DecodeStream(*payload, sink, header)
                           : DecodeStored(*payload, sink, header);
    return result == kDecodeWrong || result == kDecodeShort ? kDecodeDamaged : result;
}
