// The .evtx decoder on arbitrary chunks: the input is one chunk of a file whose header keeps no
// checksums (the first byte's low bit asks for them to be checked instead). Every record the
// decoder accepts must come out as a well-formed legacy record.
#include "formats/evt/event_record.h"
#include "formats/evtx/evtx_file.h"
#include "formats/little_endian.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > kEvtxChunkSize + 1)
        return 0;
    std::vector<uint8_t> file(kEvtxHeaderBlock + kEvtxChunkSize, 0);
    std::memcpy(file.data(), "ElfFile", 8);
    writeLe32(&file[120], data[0] & 1 ? 0 : kEvtxFlagNoChecksums);
    std::memcpy(&file[kEvtxHeaderBlock], data + 1, size - 1);
    EvtxFile log;
    if (!log.load(std::move(file)))
        std::abort(); // the signature is there: the file loads, whatever its chunks hold
    std::vector<uint8_t> record;
    EvtRecordFields fields;
    for (int backwards : {1, 0}) {
        EvtxCursor cursor;
        cursor.backwards = backwards;
        while (log.next(cursor, record) == WalkStep::Record)
            if (!parseEvtRecord(record.data(), static_cast<uint32_t>(record.size()), fields))
                std::abort();
    }
    return 0;
}
