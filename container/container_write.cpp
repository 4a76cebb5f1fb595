#include "container_write.h"

#include <cstring>

#include "bytes.h"
#include "cipher.h"
#include "integrity.h"
#include "marker.h"
#include "sealed.h"

int IsUsableStub(const uint8_t* stub, size_t length)
{
    return length % kMarkerBlockSize == 0 && FindMarkerInBuffer(stub, length) == length;
}

size_t PayloadBound(uint32_t recordLength)
{
    const size_t compressed = LzapCompressBound(recordLength);
    return compressed > recordLength ? compressed : recordLength;
}

size_t PackRecord(LzapEncoder* encoder, const uint8_t* record, uint32_t recordLength, int store, uint8_t* out,
                  size_t outCapacity, LzapProgress progress, void* progressContext)
{
    if (recordLength < 2 || outCapacity < PayloadBound(recordLength)) return 0;
    size_t length = 0;
    if (!store) length = LzapCompress(encoder, record, recordLength, out, outCapacity, progress,
                                      progressContext);
    if (store || length == 0 || length >= recordLength) {
        std::memcpy(out, record, recordLength);
        length = recordLength;
    }
    return length;
}

size_t EncodePayload(LzapEncoder* encoder, const uint8_t* record, uint32_t recordLength, int store,
                     const char* key, uint32_t keyLength, uint8_t* out, size_t outCapacity,
                     LzapProgress progress, void* progressContext)
{
    const size_t length = PackRecord(encoder, record, recordLength, store, out, outCapacity, progress,
                                     progressContext);
    if (length == 0) return 0;
    if (!EncipherPayload(out, static_cast<uint32_t>(length), key, keyLength)) return 0;
    return length;
}

void FillMarkerBlock(uint8_t* block, const MarkerFields* fields)
{
    std::memset(block, 0, kMarkerBlockSize);
    BuildMarkerText(reinterpret_cast<char*>(block));
    block[kMarkerOffsetOpenAfter] = fields->openAfterDecode;
    block[kMarkerOffsetSelfDelete] = fields->selfDeleteMode;
    block[kMarkerOffsetSavePassword] = fields->allowSavePassword;
    block[kMarkerOffsetEncoderInfo] = fields->showEncoderInfo;
    uint32_t n = fields->captionLength;
    if (n > kMarkerCaptionMaxText) n = kMarkerCaptionMaxText;
    const void* zero = std::memchr(fields->caption, 0, n);
    if (zero) n = static_cast<uint32_t>(static_cast<const char*>(zero) - fields->caption);
    std::memcpy(block + kMarkerOffsetCaption, fields->caption, n);
    block[kMarkerOffsetForm] = fields->form;
    StoreLE32(block + kMarkerOffsetPayloadLength, fields->payloadLength);
}

void WriteMarkerBlock(uint8_t* block, const MarkerFields* fields, const uint8_t* stub,
                      size_t stubLength, const uint8_t* payload, size_t payloadLength)
{
    FillMarkerBlock(block, fields);
    ComputeIntegritySum(stub, stubLength, payload, payloadLength,
                        block + kMarkerOffsetIntegritySum);
}
