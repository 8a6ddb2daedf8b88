// Short records read straight from a template's values (decodeEventBrief) against those made from
// the whole event (decodeEventXml, then buildShortRecord). The input is one chunk, after a byte
// of flags: 2, its records newest first; 4, a small budget for the chunk. Each record is read
// both ways, from template caches kept in step; where the straight way takes it, the short record
// and the budget taken must be the event's, also under a budget of the record's exact cost and
// of one node or byte less; where it does not, it takes nothing.
#include "formats/evtx/binxml_brief.h"
#include "formats/evtx/evtx_file.h"
#include "formats/little_endian.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Span {
    uint32_t begin, end; // the record's binary XML
};

// The record read straight under budget, from the plans of straight, and from its event (from
// the plans of whole), where the straight way takes it.
void readBothWays(const uint8_t* chunk, Span s, TemplateCache& straight, TemplateCache& whole,
                  DecodeBudget budget, EvtxEvent& event) {
    DecodeBudget left = budget;
    EvtxBrief brief;
    if (!decodeEventBrief(chunk, kEvtxChunkSize, s.begin, s.end, straight, 0, left, brief)) {
        if (left.nodes != budget.nodes || left.bytes != budget.bytes)
            std::abort(); // a record left to its event costs nothing first
        return;
    }
    RecordBytes fromBrief, fromEvent;
    writeShortRecord(brief, legacyRecordNumber(brief.recordId, s.begin), fromBrief);
    DecodeBudget eventLeft = budget;
    if (!decodeEventXml(chunk, kEvtxChunkSize, s.begin, s.end, event, &whole, 0, &eventLeft) ||
        !buildShortRecord(event, legacyRecordNumber(event.numbers[EvtxRecordId], s.begin),
                          fromEvent) ||
        fromBrief.size() != fromEvent.size() ||
        std::memcmp(fromBrief.data(), fromEvent.data(), fromBrief.size()) != 0 ||
        left.nodes != eventLeft.nodes || left.bytes != eventLeft.bytes)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > kEvtxChunkSize + 1)
        return 0;
    std::vector<uint8_t> bytes(kEvtxChunkSize, 0);
    std::memcpy(bytes.data(), data + 1, size - 1);
    const uint8_t* c = bytes.data();
    std::vector<Span> spans;
    for (uint32_t pos = kEvtxChunkHeaderSize; kEvtxChunkSize - pos >= 28;) {
        const uint32_t length = readLe32(c + pos + 4);
        if (readLe32(c + pos) != kEvtxRecordSignature || length < 28 ||
            length > kEvtxChunkSize - pos)
            break;
        spans.push_back({pos + 24, pos + length - 4});
        pos += length;
    }
    const int backwards = data[0] & 2;
    DecodeBudget carried;
    if (data[0] & 4) {
        carried.nodes = readLe16(c + 8) % 400;
        carried.bytes = readLe16(c + 10) % 2000;
    }
    TemplateCache straight, whole;
    EvtxEvent event;
    for (size_t k = 0; k < spans.size(); ++k) {
        const Span s = spans[backwards ? spans.size() - 1 - k : k];
        readBothWays(c, s, straight, whole, carried, event);
        // The record's exact cost, where its plan is made, and a node or a byte less.
        DecodeBudget probe, spent;
        EvtxBrief brief;
        if (decodeEventBrief(c, kEvtxChunkSize, s.begin, s.end, straight, 0, probe, brief) &&
            decodeEventXml(c, kEvtxChunkSize, s.begin, s.end, event, &whole, 0, &spent)) {
            const DecodeBudget full;
            const uint64_t nodes = full.nodes - spent.nodes, taken = full.bytes - spent.bytes;
            for (uint64_t lessNodes : {0, 1})
                for (uint64_t lessBytes : {0, 1})
                    if (nodes >= lessNodes && taken >= lessBytes)
                        readBothWays(c, s, straight, whole, {nodes - lessNodes, taken - lessBytes},
                                     event);
        }
        // The record as a walk decodes it, into both caches.
        DecodeBudget left = carried, wholeLeft = carried;
        const int made =
            decodeEventXml(c, kEvtxChunkSize, s.begin, s.end, event, &straight, 0, &left);
        if (made !=
                decodeEventXml(c, kEvtxChunkSize, s.begin, s.end, event, &whole, 0, &wholeLeft) ||
            left.nodes != wholeLeft.nodes || left.bytes != wholeLeft.bytes)
            std::abort();
        carried = left;
    }
    return 0;
}
