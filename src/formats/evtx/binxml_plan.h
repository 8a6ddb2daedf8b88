// Template plans: what the walk of a template's body puts where, recorded once per chunk and
// context, so that the records that share the template (nearly all of a chunk) are not walked
// token by token. The walk and a plan's replay apply their steps by one routine
// (Decoder::apply).
#pragma once

#include "binxml.h"
#include "binxml_event.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace binxml {

// Where the walk is: the depth of the element it is in, that element and its parent.
struct Context {
    uint8_t depth;
    Kind current, parent;
};

// One step of the walk: what the walk of a body does that puts anything anywhere.
struct PlanStep {
    enum Op : uint8_t { DataOpen, DataClose, Literal, Substitute } op;
    // How a replay puts a substitution whose value has the type its template gives it (and is no
    // empty optional one): a number of so many bytes, a name's text, or nothing. Any other step
    // or value is applied as the walk applies it.
    enum Fast : uint8_t { Apply, Skip, Number1, Number2, Number4, Number8, Text } fast;
    AttributeKind attribute;
    uint8_t optional;
    Context where;           // the element the step is in
    Target target;           // where a value here goes
    uint8_t declared;        // Substitute: the value type its template gives
    uint16_t index;          // Substitute: the value
    uint32_t literal, bytes; // Literal: where its text is among the plan's literals
};
// What a plan holds is bounded by its steps at this size (kMaxPlanBytes).
static_assert(sizeof(PlanStep) == 20, "a step takes 20 bytes of a chunk's plans");

// A step of a plan's quick replay, for a record whose values all have the types the fast steps
// were made for: a fast step's way, or what the other steps do, as apply does it. A Data element
// whose content is one value is one step (Data): opened, given the value, closed.
struct QuickStep {
    enum Op : uint8_t {
        Number1,
        Number2,
        Number4,
        Number8,
        Text,
        Open,
        Close,
        Value,
        Data,
        Apply
    } op;
    uint8_t optional;
    Target target;
    uint16_t index; // the value
    uint32_t step;  // Apply: the plan's step
};

// How the short record of a record is read straight from the values a plan's quick steps take
// (binxml_brief.cpp): where each part a short record holds, or sizes, comes from. Usable when the
// quick steps put nothing but numbers, a text each at most for the provider, the source name and
// the computer, a SID, a binary value, and Data elements of a value each.
struct BriefShape {
    static constexpr size_t kMostData = 4;
    // The value a Value or Data step puts, and whether the step is optional.
    struct Put {
        uint32_t index;
        int optional;
    };
    int usable = 0;
    // The numbers (by Target): the value the last quick step that puts each reads (plus one; 0
    // for none), and its bytes.
    uint32_t number[kEvtxNumbers] = {};
    uint8_t numberBytes[kEvtxNumbers] = {};
    uint32_t provider = 0, sourceName = 0, computer = 0; // values, plus one
    int hasSid = 0, hasBinary = 0;
    Put sid = {}, binary = {};
    uint32_t dataCount = 0;
    Put data[kMostData] = {};
};

struct TemplatePlan {
    int usable = 1; // 0: the body holds what a plan cannot (a template instance), so it is walked
    std::vector<PlanStep> steps;
    std::vector<uint8_t> literals;
    // The quick replay (binxml_plan.cpp, makeQuick): the steps but those that put nothing, for
    // a record of neededValues values at least whose (size, type) pairs, read eight bytes at a
    // time, have the types wanted where the mask says.
    std::vector<QuickStep> quick;
    std::vector<uint64_t> typeMask, typeWanted;
    uint32_t neededValues = 0;
    BriefShape brief;
};

// A plan belongs to a template's body in its chunk and to the element the walk is in where the
// template is instantiated: the targets of its values depend on that element and its parent.
struct PlanKey {
    uint32_t chunkId;
    uint32_t body; // its offset in the chunk
    uint8_t depth;
    Kind current, parent;

    bool operator==(const PlanKey& other) const {
        return chunkId == other.chunkId && body == other.body && depth == other.depth &&
               current == other.current && parent == other.parent;
    }
};

// The fields packed into 64 bits: unique for chunks of 64 KiB, depths below 256 and kinds
// below 16; anything larger only shares a hash.
struct PlanKeyHash {
    static_assert(sizeof(Kind) == 1 && BinaryKind < 16, "a kind takes 4 bits of the hash");
    size_t operator()(const PlanKey& k) const {
        uint64_t packed = static_cast<uint64_t>(k.chunkId) << 32 |
                          static_cast<uint64_t>(k.body) << 16 |
                          static_cast<uint64_t>(k.depth) << 8 |
                          static_cast<uint64_t>(k.current) << 4 | static_cast<uint64_t>(k.parent);
        return std::hash<uint64_t>()(packed);
    }
};

} // namespace binxml

struct TemplateCache::Plans {
    std::unordered_map<binxml::PlanKey, binxml::TemplatePlan, binxml::PlanKeyHash> byKey;
    size_t bytes = 0; // what the plans hold
    // The plan last found: a chunk's records nearly all instantiate one template in one place.
    binxml::PlanKey lastKey = {};
    binxml::TemplatePlan* last = nullptr;
};
