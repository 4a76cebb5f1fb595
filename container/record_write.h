// Encoder side of the decoded record.
#ifndef LUMISAFE_CONTAINER_RECORD_WRITE_H
#define LUMISAFE_CONTAINER_RECORD_WRITE_H

#include <cstdint>

#include "record.h"

// Writes the leading byte and the 304-byte header at record[0..305). When the
// name leaves room, the content check of `content` is put behind it.
void WriteRecordHeader(uint8_t* record, const RecordHeader* header, const uint8_t* content);

// The same with the contents' CRC-32 already known (contents read in pieces).
void WriteRecordHeaderWithCheck(uint8_t* record, const RecordHeader* header, uint32_t contentCrc);

#endif
