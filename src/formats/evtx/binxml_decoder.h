// The decoder of one record's binary XML: the token walk (binxml.cpp) and the template plans it
// records and replays (binxml_plan.cpp), which put values into the event by one set of rules
// (binxml_event.cpp).
#pragma once

#include "binxml.h"
#include "binxml_event.h"
#include "binxml_plan.h"
#include "binxml_values.h"

#include "formats/little_endian.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace binxml {

// Templates inside values inside templates: real logs nest two or three deep.
constexpr int kMaxNesting = 16;
constexpr int kMaxDepth = 64; // elements inside elements

// A template instance's values: their (size, type) pairs as the record has them, and where each
// starts in the chunk (starts[count] where the last ends).
struct Substitutions {
    const uint8_t* chunk = nullptr;
    const uint8_t* pairs = nullptr;
    const uint32_t* starts = nullptr;
    uint32_t count = 0;

    TypedValue value(uint32_t i) const {
        return {chunk + starts[i], starts[i + 1] - starts[i], pairs[4 * i + 2]};
    }
};

// Whether size bytes from pos lie before end.
inline int fits(uint32_t pos, uint32_t size, uint32_t end) {
    return pos <= end && end - pos >= size;
}

// A template instance whose token is at start: where the template's body is, and where the count
// of its values lies (past the definition, when the instance defines the template here). 0 when
// it does not fit.
inline int instanceHeader(const uint8_t* chunk, uint32_t chunkSize, uint32_t start, uint32_t end,
                          uint32_t* body, uint32_t* bodySize, uint32_t* values) {
    if (!fits(start, 10, end))
        return 0;
    const uint32_t definition = readLe32(chunk + start + 6);
    uint32_t pos = start + 10;
    if (!fits(definition, 24, chunkSize))
        return 0;
    *bodySize = readLe32(chunk + definition + 20);
    *body = definition + 24;
    if (!fits(*body, *bodySize, chunkSize))
        return 0;
    if (definition > start) { // defined here, on first use in the chunk
        if (definition != pos || !fits(pos, 24 + *bodySize, end))
            return 0;
        pos = *body + *bodySize;
    }
    *values = pos;
    return 1;
}

// Where each of count values starts, from their (size, type) pairs (the values follow the
// pairs, from data on); where the last one ends. Below 2^16 each, the sizes cannot wrap.
inline uint32_t valueStarts(const uint8_t* pairs, uint32_t count, uint32_t data, uint32_t* starts) {
    uint32_t i = 0;
    for (; i + 2 <= count; i += 2) { // two a step: a template has a dozen values or more
        starts[i] = data;
        data += readLe16(pairs + 4 * i);
        starts[i + 1] = data;
        data += readLe16(pairs + 4 * i + 4);
    }
    if (i < count) {
        starts[i] = data;
        data += readLe16(pairs + 4 * i);
    }
    starts[count] = data;
    return data;
}

// Whether a record's values have the types a plan's quick steps take them with.
inline int expectedValues(const TemplatePlan& plan, const Substitutions& subs) {
    if (subs.count < plan.neededValues || !subs.pairs)
        return 0;
    uint64_t differ = 0;
    for (size_t k = 0; k < plan.typeMask.size(); ++k) {
        uint64_t pairs;
        std::memcpy(&pairs, subs.pairs + 8 * k, 8);
        differ |= (pairs & plan.typeMask[k]) ^ plan.typeWanted[k];
    }
    return differ == 0;
}

// A walk over the binary XML of one record, which fills an EvtxEvent.
class Decoder {
  public:
    Decoder(const uint8_t* chunk, uint32_t chunkSize, EvtxEvent& event, TemplateCache* cache,
            uint32_t chunkId, DecodeBudget& budget)
        : chunk_(chunk), chunkSize_(chunkSize), event_(event, budget), cache_(cache),
          chunkId_(chunkId) {}

    // A fragment: its header, then a template instance or elements, to its end of stream.
    // Elements in a template's definition have a dependency identifier in their header (11
    // bytes); those of a record's own fragment, or of a value of binary XML, have none (9).
    int fragment(uint32_t pos, uint32_t end, const Substitutions& subs, int nesting,
                 int definition);

  private:
    // The token walk.
    int walk(uint32_t pos, uint32_t end, const Substitutions& subs, int nesting);
    // The name at a chunk offset: its units and count; 0 when it does not fit the chunk.
    int nameAt(uint32_t offset, const uint8_t** units, uint16_t* count) const;
    // Moves pos past a name stored right here (an offset after the node's start).
    int skipResidentName(uint32_t nodeStart, uint32_t nameOffset, uint32_t& pos, uint32_t end);
    Kind elementKind(uint32_t nameOffset) const;
    AttributeKind attributeKind(uint32_t nameOffset) const;
    int templateInstance(uint32_t& pos, uint32_t end, int nesting);
    int element(uint32_t& pos, uint32_t end, const Substitutions& subs, int nesting);
    // Value nodes of an attribute or of content: text, substitutions, references.
    int valueNode(uint32_t& pos, uint32_t end, const Substitutions& subs, int nesting,
                  AttributeKind attribute);
    int closeElement();
    int skipProcessingInstruction(uint32_t& pos, uint32_t end);
    int countedText(uint32_t& pos, uint32_t end, uint32_t header, AttributeKind attribute);

    // Steps and plans.
    // Where the walk is now; setContext puts the walk back there.
    Context context() const {
        return {static_cast<uint8_t>(depth_), depth_ > 0 ? path_[depth_ - 1] : OtherKind,
                depth_ > 1 ? path_[depth_ - 2] : OtherKind};
    }
    void setContext(const Context& where);
    // A step at the element the walk is in now.
    PlanStep here(PlanStep::Op op, AttributeKind attribute) const;
    // A step of the walk: recorded into the plan being made, or applied to the event now.
    int emit(const PlanStep& step, const TypedValue* literal,
             const Substitutions& subs = Substitutions(), int nesting = 0);
    int record(PlanStep step, const TypedValue* literal);
    // One step, from the walk or from a plan: what the event gets.
    int apply(const PlanStep& step, const TypedValue* literal, const Substitutions& subs,
              int nesting);
    int substitute(const PlanStep& step, const Substitutions& subs, int nesting);
    int putFast(const PlanStep& step, const TypedValue& value);
    int substituteXml(const PlanStep& step, const TypedValue& value, const Substitutions& subs,
                      int nesting);
    // A template's body with its substitution values.
    int instantiate(uint32_t body, uint32_t bodySize, const Substitutions& subs, int nesting);
    TemplatePlan* planFor(uint32_t body, uint32_t bodySize, int nesting);
    TemplatePlan* findPlan(const PlanKey& key, uint32_t bodySize, int nesting);
    int runPlan(const TemplatePlan& plan, const Substitutions& subs, int nesting);
    int runSteps(const TemplatePlan& plan, const Substitutions& subs, int nesting);
    int runStep(const TemplatePlan& plan, const PlanStep& step, const Substitutions& subs,
                int nesting);
    int runQuick(const TemplatePlan& plan, const Substitutions& subs, int nesting);
    static void makeQuick(TemplatePlan& plan);
    static void fuseData(std::vector<QuickStep>& quick);
    static void makeBrief(TemplatePlan& plan);

    const uint8_t* chunk_;
    uint32_t chunkSize_;
    EventBuilder event_;
    TemplateCache* cache_;
    uint32_t chunkId_;
    TemplatePlan* recording_ = nullptr; // the plan being made: steps are kept, not applied
    Kind path_[kMaxDepth];
    int depth_ = 0;
    int definition_ = 0; // walking a template's definition
};

} // namespace binxml
