#include "binxml_plan.h"

#include "binxml_decoder.h"

#include <cstring>

namespace binxml {

namespace {

// What the plans of one chunk may hold. Real chunks need a few kilobytes; bodies that overlap
// and are instantiated at many depths would otherwise each keep a copy of most of the chunk.
// Past it, templates are walked.
constexpr size_t kMaxPlanBytes = 1u << 20;

} // namespace

PlanStep Decoder::here(PlanStep::Op op, AttributeKind attribute) const {
    PlanStep s = {};
    s.op = op;
    s.fast = PlanStep::Apply;
    s.attribute = attribute;
    s.where = context();
    s.target = depth_ > 0 ? targetOf(attribute, path_[depth_ - 1]) : NoTarget;
    s.declared = NullType;
    return s;
}

namespace {

// How a replay puts a substitution's value of the type its template gives it.
PlanStep::Fast fastOf(const PlanStep& s) {
    if (s.op != PlanStep::Substitute || s.declared == NullType || s.declared == BinXmlType)
        return PlanStep::Apply; // an empty value, or a walk
    if (s.target == NoTarget)
        return PlanStep::Skip;
    if (s.target < NoTarget) { // a number, as numberOf reads the type
        switch (s.declared) {
        case Int8Type:
        case UInt8Type:
            return PlanStep::Number1;
        case Int16Type:
        case UInt16Type:
            return PlanStep::Number2;
        case Int32Type:
        case UInt32Type:
        case HexInt32Type:
        case BoolType:
            return PlanStep::Number4;
        case Int64Type:
        case UInt64Type:
        case HexInt64Type:
        case FileTimeType:
            return PlanStep::Number8;
        default:
            return PlanStep::Apply;
        }
    }
    const int name =
        s.target == ProviderTarget || s.target == SourceNameTarget || s.target == ComputerTarget;
    return name && s.declared == StringType ? PlanStep::Text : PlanStep::Apply;
}

} // namespace

// The element a step is in, as the walk of the template had it there.
void Decoder::setContext(const Context& where) {
    depth_ = where.depth;
    if (depth_ > 0)
        path_[depth_ - 1] = where.current;
    if (depth_ > 1)
        path_[depth_ - 2] = where.parent;
}

int Decoder::emit(const PlanStep& s, const TypedValue* literal, const Substitutions& subs,
                  int nesting) {
    return recording_ ? record(s, literal) : apply(s, literal, subs, nesting);
}

int Decoder::record(PlanStep s, const TypedValue* literal) {
    if (s.op == PlanStep::Literal && s.attribute == IgnoredAttribute)
        return 1; // goes nowhere
    s.fast = fastOf(s);
    if (literal) {
        if (!event_.spendBytes(literal->size)) // a plan made again and again copies it each time
            return 0;
        s.literal = static_cast<uint32_t>(recording_->literals.size());
        s.bytes = literal->size;
        recording_->literals.insert(recording_->literals.end(), literal->bytes,
                                    literal->bytes + literal->size);
    }
    recording_->steps.push_back(s);
    return 1;
}

int Decoder::apply(const PlanStep& s, const TypedValue* literal, const Substitutions& subs,
                   int nesting) {
    switch (s.op) {
    case PlanStep::DataOpen:
        event_.openData();
        return 1;
    case PlanStep::DataClose:
        return event_.closeData();
    case PlanStep::Literal:
        return event_.put(*literal, s.target);
    case PlanStep::Substitute:
        return substitute(s, subs, nesting);
    }
    return 1;
}

// What apply does for the step and value, as far as the step's fast way says.
inline int Decoder::putFast(const PlanStep& s, const TypedValue& v) {
    switch (s.fast) {
    case PlanStep::Number1:
        event_.setNumber(s.target, v.size >= 1 ? v.bytes[0] : 0);
        return 1;
    case PlanStep::Number2:
        event_.setNumber(s.target, v.size >= 2 ? readLe16(v.bytes) : 0);
        return 1;
    case PlanStep::Number4:
        event_.setNumber(s.target, v.size >= 4 ? readLe32(v.bytes) : 0);
        return 1;
    case PlanStep::Number8:
        event_.setNumber(s.target, v.size >= 8 ? readLe64(v.bytes) : 0);
        return 1;
    case PlanStep::Text:
        return event_.putString(v, s.target);
    default:
        return 1;
    }
}

inline int Decoder::substitute(const PlanStep& s, const Substitutions& subs, int nesting) {
    if (s.index >= subs.count)
        return s.optional; // no value to put here
    const TypedValue v = subs.value(s.index);
    if (v.type == NullType || (s.optional && v.size == 0)) {
        event_.emptyValue();
        return 1;
    }
    if (v.type == BinXmlType)
        return substituteXml(s, v, subs, nesting);
    return event_.put(v, s.target);
}

int Decoder::substituteXml(const PlanStep& s, const TypedValue& v, const Substitutions& subs,
                           int nesting) {
    setContext(s.where); // a replay is put in the step's place: the value's own walk needs it
    uint32_t at = static_cast<uint32_t>(v.bytes - chunk_);
    return fragment(at, at + v.size, subs, nesting + 1, 0);
}

// The plan of the template whose body is here, made by walking the body once in the context
// the walk is in now; none without a cache.
inline TemplatePlan* Decoder::planFor(uint32_t body, uint32_t bodySize, int nesting) {
    if (!cache_)
        return nullptr;
    const Context start = context();
    const PlanKey key = {chunkId_, body, start.depth, start.current, start.parent};
    const TemplateCache::Plans& plans = *cache_->plans;
    return plans.last && plans.lastKey == key ? plans.last : findPlan(key, bodySize, nesting);
}

TemplatePlan* Decoder::findPlan(const PlanKey& key, uint32_t bodySize, int nesting) {
    TemplateCache::Plans& plans = *cache_->plans;
    auto found = plans.byKey.find(key);
    if (found != plans.byKey.end()) {
        plans.lastKey = key;
        return plans.last = &found->second;
    }
    const Context start = context();
    TemplatePlan plan;
    recording_ = &plan;
    int ok = fragment(key.body, key.body + bodySize, Substitutions(), nesting + 1, 1);
    recording_ = nullptr;
    setContext(start);
    const size_t bytes = sizeof plan + plan.steps.size() * sizeof(PlanStep) + plan.literals.size();
    if (!ok || bytes > kMaxPlanBytes - plans.bytes)
        return nullptr; // walked again, to fail where it fails
    plans.bytes += bytes;
    makeQuick(plan);
    plans.lastKey = key;
    return plans.last = &plans.byKey.emplace(key, std::move(plan)).first->second;
}

// While a plan is being made, a template inside it is walked only for its bounds: its values are
// the record's, so the outer plan cannot be used and the body is walked each time.
int Decoder::instantiate(uint32_t body, uint32_t bodySize, const Substitutions& subs, int nesting) {
    if (recording_) {
        recording_->usable = 0;
    } else if (TemplatePlan* plan = planFor(body, bodySize, nesting)) {
        if (plan->usable)
            return runPlan(*plan, subs, nesting + 1);
    }
    return fragment(body, body + bodySize, subs, nesting + 1, 1);
}

// Values go straight where the plan says; the walk is put in a step's place only for a value
// of binary XML, whose own walk needs it, and put back after the plan. A record whose values
// have the types the plan expects is replayed by its quick steps, without a check a step.
inline int Decoder::runPlan(const TemplatePlan& plan, const Substitutions& subs, int nesting) {
    if (!event_.spendNodes(plan.steps.size())) // a node a step, counted at once
        return 0;
    const Context start = context();
    if (!(expectedValues(plan, subs) ? runQuick(plan, subs, nesting)
                                     : runSteps(plan, subs, nesting)))
        return 0;
    setContext(start);
    return 1;
}

int Decoder::runSteps(const TemplatePlan& plan, const Substitutions& subs, int nesting) {
    for (const PlanStep& s : plan.steps)
        if (!runStep(plan, s, subs, nesting))
            return 0;
    return 1;
}

inline int Decoder::runStep(const TemplatePlan& plan, const PlanStep& s, const Substitutions& subs,
                            int nesting) {
    if (s.fast != PlanStep::Apply && s.index < subs.count) {
        const TypedValue v = subs.value(s.index);
        if (v.type == s.declared && (v.size > 0 || !s.optional))
            return putFast(s, v);
    }
    if (s.op == PlanStep::Literal)
        return event_.put({plan.literals.data() + s.literal, s.bytes, StringType}, s.target);
    return apply(s, nullptr, subs, nesting);
}

inline int Decoder::runQuick(const TemplatePlan& plan, const Substitutions& subs, int nesting) {
    for (const QuickStep& q : plan.quick) {
        switch (q.op) {
        case QuickStep::Number1: {
            const TypedValue v = subs.value(q.index);
            event_.setNumber(q.target, v.size >= 1 ? v.bytes[0] : 0);
            break;
        }
        case QuickStep::Number2: {
            const TypedValue v = subs.value(q.index);
            event_.setNumber(q.target, v.size >= 2 ? readLe16(v.bytes) : 0);
            break;
        }
        case QuickStep::Number4: {
            const TypedValue v = subs.value(q.index);
            event_.setNumber(q.target, v.size >= 4 ? readLe32(v.bytes) : 0);
            break;
        }
        case QuickStep::Number8: {
            const TypedValue v = subs.value(q.index);
            event_.setNumber(q.target, v.size >= 8 ? readLe64(v.bytes) : 0);
            break;
        }
        case QuickStep::Text:
            if (!event_.putString(subs.value(q.index), q.target))
                return 0;
            break;
        case QuickStep::Open:
            event_.openData();
            break;
        case QuickStep::Close:
            if (!event_.closeData())
                return 0;
            break;
        case QuickStep::Value:
            if (!substitute(plan.steps[q.step], subs, nesting))
                return 0;
            break;
        case QuickStep::Data:
            event_.openData();
            if (!substitute(plan.steps[q.step], subs, nesting) || !event_.closeData())
                return 0;
            break;
        case QuickStep::Apply:
            if (!runStep(plan, plan.steps[q.step], subs, nesting))
                return 0;
            break;
        default: // makeQuick makes no other step: the switch needs no check of its range
#if defined(__GNUC__)
            __builtin_unreachable();
#endif
            break;
        }
    }
    return 1;
}

// The quick steps: a step with a fast way and a value that must be there (no optional one) is
// taken as it is once the value has its type; one that then puts nothing is left out. A value
// two such steps want of different types is never taken so. The others do what apply does.
void Decoder::makeQuick(TemplatePlan& plan) {
    size_t pairBytes = 0; // of the values the fast steps take, sized once
    for (const PlanStep& s : plan.steps)
        if (s.fast != PlanStep::Apply && !s.optional && 4u * s.index + 3u > pairBytes)
            pairBytes = 4u * s.index + 3u;
    std::vector<uint8_t> mask(pairBytes, 0), wanted(pairBytes, 0);
    plan.quick.reserve(plan.steps.size());
    for (uint32_t k = 0; k < plan.steps.size(); ++k) {
        const PlanStep& s = plan.steps[k];
        QuickStep q = {QuickStep::Apply, s.optional, s.target, s.index, k};
        if (s.fast == PlanStep::Apply || s.optional) {
            q.op = s.op == PlanStep::DataOpen                                  ? QuickStep::Open
                   : s.op == PlanStep::DataClose                               ? QuickStep::Close
                   : s.op == PlanStep::Substitute && s.fast == PlanStep::Apply ? QuickStep::Value
                                                                               : QuickStep::Apply;
            plan.quick.push_back(q);
            continue;
        }
        const size_t at = 4u * s.index + 2; // the type of its (size, type) pair
        if (mask[at] && wanted[at] != s.declared)
            plan.neededValues = UINT32_MAX;
        mask[at] = 0xFF;
        wanted[at] = s.declared;
        if (s.index >= plan.neededValues)
            plan.neededValues = s.index + 1u;
        if (s.fast == PlanStep::Skip)
            continue;
        q.op = s.fast == PlanStep::Number1   ? QuickStep::Number1
               : s.fast == PlanStep::Number2 ? QuickStep::Number2
               : s.fast == PlanStep::Number4 ? QuickStep::Number4
               : s.fast == PlanStep::Number8 ? QuickStep::Number8
                                             : QuickStep::Text;
        plan.quick.push_back(q);
    }
    fuseData(plan.quick);
    makeBrief(plan);
    // The pairs are read two at a time: a record with one fewer than an even number is replayed
    // step by step.
    const size_t words = plan.neededValues == UINT32_MAX ? 0 : (plan.neededValues + 1) / 2;
    if (words > 0)
        plan.neededValues = static_cast<uint32_t>(2 * words);
    mask.resize(8 * words, 0);
    wanted.resize(8 * words, 0);
    plan.typeMask.resize(words);
    plan.typeWanted.resize(words);
    if (words > 0) {
        std::memcpy(plan.typeMask.data(), mask.data(), mask.size());
        std::memcpy(plan.typeWanted.data(), wanted.data(), wanted.size());
    }
}

// Open, Value, Close in a row become one Data step.
void Decoder::fuseData(std::vector<QuickStep>& quick) {
    size_t kept = 0;
    for (size_t k = 0; k < quick.size(); ++k) {
        QuickStep q = quick[k];
        if (q.op == QuickStep::Open && k + 2 < quick.size() &&
            quick[k + 1].op == QuickStep::Value && quick[k + 2].op == QuickStep::Close) {
            q = quick[k + 1];
            q.op = QuickStep::Data;
            k += 2;
        }
        quick[kept++] = q;
    }
    quick.resize(kept);
}

// Where a brief's parts come from, among the quick steps; none when a step puts what a brief does
// not show, or more than one value where the event joins them.
void Decoder::makeBrief(TemplatePlan& plan) {
    BriefShape b;
    b.usable = 1;
    for (const QuickStep& q : plan.quick) {
        const PlanStep& s = plan.steps[q.step];
        switch (q.op) {
        case QuickStep::Number1:
        case QuickStep::Number2:
        case QuickStep::Number4:
        case QuickStep::Number8:
            if (q.target < NoTarget) {
                b.number[q.target] = q.index + 1u;
                b.numberBytes[q.target] = static_cast<uint8_t>(q.op == QuickStep::Number1   ? 1
                                                               : q.op == QuickStep::Number2 ? 2
                                                               : q.op == QuickStep::Number4 ? 4
                                                                                            : 8);
            }
            break;
        case QuickStep::Text: {
            uint32_t& text = q.target == ProviderTarget     ? b.provider
                             : q.target == SourceNameTarget ? b.sourceName
                                                            : b.computer;
            b.usable &= text == 0;
            text = q.index + 1u;
            break;
        }
        case QuickStep::Value: {
            const BriefShape::Put put = {s.index, s.optional};
            if (s.target == UserSidTarget && !b.hasSid) {
                b.hasSid = 1;
                b.sid = put;
            } else if (s.target == BinaryTarget && !b.hasBinary) {
                b.hasBinary = 1;
                b.binary = put;
            } else {
                b.usable = 0;
            }
            break;
        }
        case QuickStep::Data:
            b.usable &= s.target == DataTarget && b.dataCount < BriefShape::kMostData;
            if (b.dataCount < BriefShape::kMostData)
                b.data[b.dataCount++] = {s.index, s.optional};
            break;
        default:
            b.usable = 0;
            break;
        }
    }
    plan.brief = b;
}

} // namespace binxml
