// The binary XML decoder on crafted chunks: the shapes real logs hold besides templates, the rule
// for a Data element's strings, and the bounds a chunk's records cannot pass (Linux).
#include "formats/evt/event_record.h"
#include "formats/evtx/binxml_brief.h"
#include "formats/evtx/evtx_file.h"
#include "formats/little_endian.h"
#include "support/support.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

using namespace std::string_literals;

namespace {

// Binary XML written at a known offset of its chunk; every name is stored where it is used.
struct Xml {
    uint32_t base;
    int definition; // in a template's definition: elements carry a dependency identifier
    std::vector<uint8_t> b;

    uint32_t here() const { return base + static_cast<uint32_t>(b.size()); }
    Xml& u8(uint8_t v) {
        b.push_back(v);
        return *this;
    }
    Xml& u16(uint16_t v) { return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8)); }
    Xml& u32(uint32_t v) {
        return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(v >> 16));
    }
    Xml& units(const std::u16string& s) {
        for (char16_t c : s)
            u16(c);
        return *this;
    }
    Xml& name(const std::u16string& s) {
        u32(here() + 4).u32(0).u16(0).u16(static_cast<uint16_t>(s.size()));
        return units(s).u16(0);
    }
    Xml& open(const std::u16string& tag, int attributes = 0) {
        u8(attributes ? 0x41 : 0x01);
        if (definition)
            u16(0xFFFF);
        u32(0).name(tag);
        return attributes ? u32(0) : *this;
    }
    // <tag>content</tag>
    Xml& element(const std::u16string& tag, const std::function<void(Xml&)>& content) {
        open(tag).u8(0x02);
        content(*this);
        return u8(0x04);
    }
    Xml& attribute(const std::u16string& tag) { return u8(0x06).name(tag); }
    Xml& text(const std::u16string& s, int more = 0) {
        return u8(more ? 0x45 : 0x05).u8(0x01).u16(static_cast<uint16_t>(s.size())).units(s);
    }
    Xml& entity(const std::u16string& s, int more = 0) { return u8(more ? 0x49 : 0x09).name(s); }
    Xml& sub(uint16_t index, uint8_t type, int optional = 0) {
        return u8(optional ? 0x0E : 0x0D).u16(index).u8(type);
    }
};

using Builder = std::function<void(Xml&)>;

// A typed substitution value; its bytes are made where they land (binary XML has offsets).
struct Value {
    uint8_t type;
    std::function<std::vector<uint8_t>(uint32_t at)> bytes;
};

Value units(const std::u16string& s, uint8_t type = 0x01) {
    return {type, [s](uint32_t at) { return Xml{at, 0, {}}.units(s).b; }};
}
Value binXml(const Builder& build) {
    return {0x21, [build](uint32_t at) {
                Xml x{at, 0, {0x0F, 1, 1, 0}};
                build(x);
                return x.u8(0x00).b;
            }};
}

// An instance of the template whose definition is at *defined, written here when it is 0.
void instance(Xml& x, uint32_t* defined, const Builder& body, const std::vector<Value>& values) {
    x.u8(0x0C).u8(0x01).u32(1);
    if (*defined) {
        x.u32(*defined);
    } else {
        *defined = x.here() + 4;
        x.u32(*defined).u32(0).u32(1).u32(0).u32(0).u32(0);
        Xml t{x.here() + 4, 1, {}};
        body(t.u8(0x0F).u8(1).u8(1).u8(0));
        t.u8(0x00);
        x.u32(static_cast<uint32_t>(t.b.size()));
        x.b.insert(x.b.end(), t.b.begin(), t.b.end());
    }
    x.u32(static_cast<uint32_t>(values.size()));
    uint32_t at = x.here() + 4 * static_cast<uint32_t>(values.size());
    std::vector<uint8_t> data;
    for (const Value& v : values) {
        std::vector<uint8_t> bytes = v.bytes(at + static_cast<uint32_t>(data.size()));
        x.u16(static_cast<uint16_t>(bytes.size())).u8(v.type).u8(0);
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    x.b.insert(x.b.end(), data.begin(), data.end());
}

// <Event><System><Provider Name="wsxlum"/><EventID>7</EventID></System>
// <EventData>data</EventData></Event>
void event(
    Xml& x, const Builder& data, const Builder& source = [](Xml& a) { a.text(u"wsxlum"); }) {
    x.element(u"Event", [&](Xml& e) {
        e.element(u"System", [&](Xml& s) {
            s.open(u"Provider", 1).attribute(u"Name");
            source(s);
            s.u8(0x03);
            s.element(u"EventID", [](Xml& i) { i.text(u"7"); });
        });
        e.element(u"EventData", data);
    });
}

// A file of one chunk, without checksums, holding a record for each builder.
std::vector<uint8_t> chunkFile(const std::vector<Builder>& records) {
    std::vector<uint8_t> file(kEvtxHeaderBlock + kEvtxChunkSize, 0);
    std::memcpy(&file[0], "ElfFile", 8);
    writeLe32(&file[120], kEvtxFlagNoChecksums);
    uint8_t* c = &file[kEvtxHeaderBlock];
    std::memcpy(c, "ElfChnk", 8);
    uint32_t at = kEvtxChunkHeaderSize, id = 1;
    for (const Builder& record : records) {
        Xml x{at + 24, 0, {0x0F, 1, 1, 0}};
        record(x);
        x.u8(0x00);
        while ((x.b.size() + 28) % 8)
            x.u8(0);
        uint32_t size = static_cast<uint32_t>(x.b.size()) + 28;
        EXPECT_LE(size, kEvtxChunkSize - at);
        if (size > kEvtxChunkSize - at)
            break;
        writeLe32(c + at, kEvtxRecordSignature);
        writeLe32(c + at + 4, size);
        writeLe32(c + at + 8, id++);
        std::memcpy(c + at + 24, x.b.data(), x.b.size());
        writeLe32(c + at + size - 4, size);
        at += size;
    }
    writeLe32(c + 24, 1);
    writeLe32(c + 32, id - 1);
    writeLe32(c + 48, at);
    return file;
}

// A record as the legacy view gives it: source, event identifier, strings.
struct Seen {
    std::u16string source;
    uint32_t eventId;
    std::vector<std::u16string> strings;
    bool operator==(const Seen& o) const {
        return source == o.source && eventId == o.eventId && strings == o.strings;
    }
};

void PrintTo(const Seen& s, std::ostream* out) {
    *out << utf8(WString(s.source.begin(), s.source.end())) << ' ' << s.eventId << " [";
    for (const std::u16string& t : s.strings)
        *out << '"' << utf8(WString(t.begin(), t.end())) << "\" ";
    *out << ']';
}

// The records of the walk, oldest first, and how it ended (End, or Broken at a record it refused).
std::vector<Seen> walkAll(const std::vector<uint8_t>& bytes, WalkStep* ended) {
    EvtxFile file;
    EXPECT_TRUE(file.load(bytes));
    EvtxCursor cursor;
    cursor.backwards = 0;
    std::vector<uint8_t> record;
    std::vector<Seen> seen;
    while ((*ended = file.next(cursor, record)) == WalkStep::Record) {
        EvtRecordFields f;
        EXPECT_TRUE(parseEvtRecord(record.data(), static_cast<uint32_t>(record.size()), f));
        seen.push_back({f.source, f.eventId, f.strings});
    }
    return seen;
}

// Data elements of a template body, each holding the content a test gives, instantiated by two
// records (the second decoded by the template's plan).
std::vector<uint8_t> templated(const Builder& data, const std::vector<Value>& values) {
    auto defined = std::make_shared<uint32_t>(0);
    Builder record = [=](Xml& x) {
        instance(
            x, defined.get(), [&](Xml& t) { event(t, data); }, values);
    };
    return chunkFile({record, record});
}

Builder dataOf(const Builder& content) {
    return [content](Xml& x) { x.element(u"Data", content); };
}

TEST(BinXml, DataStringsFollowOneRuleWhateverTheValuesMix) {
    const Builder arrayThenText = dataOf([](Xml& d) { d.sub(0, 0x81).text(u"def"); });
    const struct {
        const char* name;
        Builder data;
        std::vector<Value> values;
        std::vector<std::u16string> strings;
    } rows[] = {
        {"an array without terminator, then text",
         arrayThenText,
         {units(u"abc", 0x81)},
         {u"abcdef"}},
        {"terminated items, then text",
         arrayThenText,
         {units(u"a\0b\0"s, 0x81)},
         {u"a", u"b", u"def"}},
        {"an empty item", arrayThenText, {units(u"a\0\0"s, 0x81)}, {u"a", u"", u"def"}},
        {"text, then an array",
         dataOf([](Xml& d) { d.text(u"x").sub(0, 0x81); }),
         {units(u"a\0b\0"s, 0x81)},
         {u"xa", u"b"}},
        {"an empty array", dataOf([](Xml& d) { d.sub(0, 0x81); }), {units(u"", 0x81)}, {}},
        {"an empty optional value", dataOf([](Xml& d) { d.sub(0, 0x01, 1); }), {units(u"")}, {}},
        {"a null value, then text",
         dataOf([](Xml& d) { d.sub(0, 0x00).text(u"x"); }),
         {units(u"", 0x00)},
         {u"x"}},
        {"no content", [](Xml& x) { x.open(u"Data").u8(0x03); }, {}, {u""}},
        {"a number and text",
         dataOf([](Xml& d) { d.sub(0, 0x08).text(u"s"); }),
         {{0x08,
           [](uint32_t) {
               return std::vector<uint8_t>{42, 0, 0, 0};
           }}},
         {u"42s"}},
        {"two elements",
         [](Xml& x) {
             dataOf([](Xml& d) { d.sub(0, 0x81); })(x);
             dataOf([](Xml& d) { d.text(u"z"); })(x);
         },
         {units(u"a", 0x81)},
         {u"a", u"z"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WalkStep ended = WalkStep::Record;
        const Seen expected = {u"wsxlum", 7, row.strings};
        EXPECT_EQ(walkAll(templated(row.data, row.values), &ended),
                  (std::vector<Seen>{expected, expected}));
        EXPECT_TRUE(ended == WalkStep::End);
    }
}

// Records of one template whose values have the types it gives, or others: a value of another
// type is put as the walk puts it, wherever the replay of the plan would take the given type.
TEST(BinXml, ValuesOfOtherTypesThanTheTemplateGivesArePutAsTheWalkPutsThem) {
    auto defined = std::make_shared<uint32_t>(0);
    const Builder body = [](Xml& t) {
        t.element(u"Event", [](Xml& e) {
            e.element(u"System", [](Xml& s) {
                s.open(u"Provider", 1).attribute(u"Name").sub(0, 0x01);
                s.u8(0x03);
                s.element(u"EventID", [](Xml& i) { i.sub(1, 0x06); });
            });
        });
    };
    auto record = [=](const std::vector<Value>& values) -> Builder {
        return [=](Xml& x) { instance(x, defined.get(), body, values); };
    };
    auto bytes = [](uint8_t type, std::vector<uint8_t> b) -> Value {
        return {type, [b](uint32_t) { return b; }};
    };
    const Value name = units(u"wsxlum"), ansi = bytes(0x02, {'a', 'n', 's', 'i'});
    WalkStep ended = WalkStep::Record;
    EXPECT_EQ(walkAll(chunkFile({record({name, bytes(0x06, {7, 0})}), record({name, units(u"9")}),
                                 record({ansi, bytes(0x06, {8, 0})}),
                                 record({name, bytes(0x08, {5, 0, 0, 0})}),
                                 record({name, bytes(0x06, {6, 0})})}),
                      &ended),
              (std::vector<Seen>{{u"wsxlum", 7, {}},
                                 {u"wsxlum", 9, {}},
                                 {u"ansi", 8, {}},
                                 {u"wsxlum", 5, {}},
                                 {u"wsxlum", 6, {}}}));
    EXPECT_TRUE(ended == WalkStep::End);
}

TEST(BinXml, RecordsWithoutTemplatesAndValuesOfBinaryXmlDecode) {
    const Builder twoData = [](Xml& x) {
        dataOf([](Xml& d) { d.text(u"s1"); })(x);
        dataOf([](Xml& d) { d.entity(u"lt").text(u"s2"); })(x);
    };
    const Builder templateless = [=](Xml& x) { event(x, twoData); };
    const Builder multipart = [=](Xml& x) {
        event(x, twoData,
              [](Xml& a) { a.entity(u"quot", 1).text(u"a", 1).entity(u"amp", 1).text(u"b"); });
    };
    const std::vector<std::u16string> strings = {u"s1", u"<s2"};
    const struct {
        const char* name;
        std::vector<uint8_t> file;
        std::u16string source;
    } rows[] = {
        {"elements of the record's own fragment", chunkFile({templateless, templateless}),
         u"wsxlum"},
        {"an attribute of several parts", chunkFile({multipart, multipart}), u"\"a&b"},
        {"a value of binary XML in a template",
         templated([](Xml& d) { d.sub(0, 0x21); }, {binXml(twoData)}), u"wsxlum"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WalkStep ended = WalkStep::Record;
        const Seen expected = {row.source, 7, strings};
        EXPECT_EQ(walkAll(row.file, &ended), (std::vector<Seen>{expected, expected}));
        EXPECT_TRUE(ended == WalkStep::End);
    }
}

// A template of eight substitutions of its value, instantiated in a Data element; the value
// holds an instance of the same template, depth times over, and the leaf last: 8^depth leaves.
Builder expanding(const std::shared_ptr<uint32_t>& defined, int depth, const Value& leaf) {
    const Builder eight = [](Xml& t) {
        for (int i = 0; i < 8; ++i)
            t.sub(0, 0x01);
    };
    std::function<Value(int)> nest = [=, &nest](int level) -> Value {
        if (level == 0)
            return leaf;
        Value inner = nest(level - 1);
        return binXml([=](Xml& x) { instance(x, defined.get(), eight, {inner}); });
    };
    Value inner = nest(depth - 1);
    return [=](Xml& x) {
        event(x, dataOf([=](Xml& d) { instance(d, defined.get(), eight, {inner}); }));
    };
}

// One instance of a template of count substitutions of a value of 8 KiB, in a Data element.
Builder repeated(const std::shared_ptr<uint32_t>& defined, int count) {
    const Builder body = [count](Xml& t) {
        for (int i = 0; i < count; ++i)
            t.sub(0, 0x01);
    };
    return [=](Xml& x) {
        event(x, dataOf([=](Xml& d) {
                  instance(d, defined.get(), body, {units(std::u16string(4096, u'v'))});
              }));
    };
}

// A template whose body is headers alone, walked (not planned: it holds an instance) for each of
// the 2^levels instances of a tree of templates: every header costs a node.
Builder headers(int levels, int count) {
    return [=](Xml& x) {
        std::vector<uint32_t> defined(levels + 1, 0);
        std::function<void(Xml&, int)> body = [&](Xml& t, int level) {
            for (int i = 0; level == 1 && i < count; ++i)
                t.u8(0x0F).u8(1).u8(1).u8(0);
            for (int i = 0; level > 0 && i < (level == 1 ? 1 : 2); ++i)
                instance(t, &defined[level - 1], [&](Xml& b) { body(b, level - 1); }, {});
        };
        instance(x, &defined[levels], [&](Xml& b) { body(b, levels); }, {});
    };
}

// The walk ends at the first record past a bound, however much its bytes expand to; a walk
// without bounds would give every record.
TEST(BinXml, ExpansionStopsAtTheEventBoundAndTheChunksBudget) {
    auto defined = [] { return std::make_shared<uint32_t>(0); };
    const Value kilobyte = units(std::u16string(512, u'k'));
    const std::shared_ptr<uint32_t> shared = defined(), sharedNodes = defined();
    const Builder bytes800K = repeated(shared, 100);
    const Builder nodes50K = expanding(sharedNodes, 5, units(u"n"));
    const struct {
        const char* name;
        std::vector<uint8_t> file;
        size_t least, most; // records given
        WalkStep ended;
        size_t units; // of the first record's strings
    } rows[] = {
        {"nested values within the budget", chunkFile({expanding(defined(), 3, kilobyte)}), 1, 1,
         WalkStep::End, 512 * 512},
        {"nested values to 32 MiB", chunkFile({expanding(defined(), 5, kilobyte)}), 0, 0,
         WalkStep::Broken, 0},
        {"one value 2400 times (19 MiB)", chunkFile({repeated(defined(), 2400)}), 0, 0,
         WalkStep::Broken, 0},
        {"800 KiB records spend the chunk's bytes", chunkFile({bytes800K, bytes800K, bytes800K}), 2,
         2, WalkStep::Broken, 100 * 4096},
        {"50,000 nodes a record spend the chunk's nodes",
         chunkFile(std::vector<Builder>(60, nodes50K)), 10, 59, WalkStep::Broken, 32768},
        {"fragment headers walked 128 times 1000", chunkFile({headers(8, 1000)}), 0, 0,
         WalkStep::Broken, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WalkStep ended = WalkStep::Record;
        std::vector<Seen> seen = walkAll(row.file, &ended);
        EXPECT_GE(seen.size(), row.least);
        EXPECT_LE(seen.size(), row.most);
        EXPECT_TRUE(ended == row.ended);
        size_t units = 0;
        for (const std::u16string& s :
             seen.empty() ? std::vector<std::u16string>() : seen[0].strings)
            units += s.size();
        EXPECT_EQ(units, row.units);
    }
}

// The event's own bound holds whatever budget its caller gives.
TEST(BinXml, AnEventNeverGrowsPast16MiB) {
    for (int count : {1500, 2400}) { // values of 8 KiB: 12 MiB, 19 MiB
        const std::vector<uint8_t> file =
            chunkFile({repeated(std::make_shared<uint32_t>(0), count)});
        const uint8_t* c = &file[kEvtxHeaderBlock];
        const uint32_t size = readLe32(c + kEvtxChunkHeaderSize + 4);
        DecodeBudget generous{1u << 20, 64u << 20};
        EvtxEvent event;
        EXPECT_EQ(decodeEventXml(c, kEvtxChunkSize, kEvtxChunkHeaderSize + 24,
                                 kEvtxChunkHeaderSize + size - 4, event, nullptr, 0, &generous),
                  count < 2000)
            << count;
    }
}

// A template of 20 KiB of text instantiated at 60 depths: the plan of each would copy the text.
// Past the chunk's bound for plans, templates are walked, and give the same events.
TEST(BinXml, PlansOfAChunkAreBoundedInBytes) {
    auto defined = std::make_shared<uint32_t>(0);
    const Builder nested = [=](Xml& x) {
        for (int depth = 0; depth < 60; ++depth)
            instance(x.open(u"x").u8(0x02), defined.get(),
                     [](Xml& t) { t.text(std::u16string(10240, u't')); }, {});
        for (int depth = 0; depth < 60; ++depth)
            x.u8(0x04);
        event(x, dataOf([](Xml& d) { d.text(u"s"); }));
    };
    const std::vector<uint8_t> file = chunkFile({nested, nested});
    const uint8_t* chunk = &file[kEvtxHeaderBlock];
    TemplateCache cache;
    for (uint32_t at = kEvtxChunkHeaderSize, k = 0; k < 2; ++k, at += readLe32(chunk + at + 4)) {
        EvtxEvent event;
        ASSERT_TRUE(decodeEventXml(chunk, kEvtxChunkSize, at + 24,
                                   at + readLe32(chunk + at + 4) - 4, event, &cache));
        ASSERT_EQ(event.stringCount, 1u); // "s" and its zero unit
        EXPECT_EQ(
            std::vector<uint8_t>(event.strings.data(), event.strings.data() + event.strings.size()),
            (std::vector<uint8_t>{'s', 0, 0, 0}));
    }
    EXPECT_GT(cache.bytes(), 0u);
    EXPECT_LE(cache.bytes(), size_t(1) << 20);
}

Value raw(uint8_t type, const std::vector<uint8_t>& bytes) {
    return {type, [bytes](uint32_t) { return bytes; }};
}

// A file of count chunks that each hold a record for each builder, the records numbered on from
// chunk to chunk.
std::vector<uint8_t> chunksFile(size_t count, const std::vector<Builder>& records) {
    const std::vector<uint8_t> one = chunkFile(records);
    std::vector<uint8_t> file(one.begin(), one.begin() + kEvtxHeaderBlock);
    const uint32_t perChunk = readLe32(&one[kEvtxHeaderBlock + 32]);
    for (uint32_t k = 0; k < count; ++k) {
        const size_t at = file.size();
        file.insert(file.end(), one.begin() + kEvtxHeaderBlock, one.end());
        uint8_t* c = &file[at];
        writeLe32(c + 24, readLe32(c + 24) + k * perChunk);
        writeLe32(c + 32, readLe32(c + 32) + k * perChunk);
        for (uint32_t pos = kEvtxChunkHeaderSize; pos < readLe32(c + 48);
             pos += readLe32(c + pos + 4))
            writeLe32(c + pos + 8, readLe32(c + pos + 8) + k * perChunk);
    }
    return file;
}

// A logon of wsxlum whose payload's user name is a value of units repeated count times: the
// payload's header and the session's and domain's names, the value each time, the zero unit.
Builder repeatedName(const std::shared_ptr<uint32_t>& defined, int count, uint16_t units) {
    const Builder body = [count](Xml& t) {
        t.element(u"Event", [count](Xml& e) {
            e.element(u"System", [](Xml& s) {
                s.open(u"Provider", 1).attribute(u"Name").text(u"wsxlum");
                s.u8(0x03);
                s.element(u"EventID", [](Xml& i) { i.text(u"2"); });
            });
            e.element(u"EventData", [count](Xml& d) {
                d.element(u"Binary", [count](Xml& b) {
                    b.sub(0, 0x0E);
                    for (int i = 0; i < count; ++i)
                        b.sub(1, 0x0E);
                    b.sub(2, 0x0E);
                });
            });
        });
    };
    std::vector<uint8_t> header(8, 0);
    writeLe32(&header[0], 8 + 8 + 2u * units * static_cast<uint32_t>(count) + 2);
    writeLe32(&header[4], 1);
    for (char16_t c : std::u16string(u"c\\d\\"))
        header.insert(header.end(), {static_cast<uint8_t>(c), 0});
    const std::vector<uint8_t> name(2u * units, 'u');
    return [=](Xml& x) {
        instance(x, defined.get(), body, {raw(0x0E, header), raw(0x0E, name), raw(0x0E, {0, 0})});
    };
}

// Chunks that each spend nearly all of a chunk's budget, in records that all decode.
struct Crafted {
    const char* name;
    std::function<std::vector<Builder>()> records; // of one chunk
};
const std::vector<Crafted>& craftedChunks() {
    auto defined = [] { return std::make_shared<uint32_t>(0); };
    static const std::vector<Crafted> crafted = {
        {"templates-nested",
         [=] { return std::vector<Builder>(18, expanding(defined(), 5, units(u"n"))); }},
        {"headers-walked", [=] { return std::vector<Builder>(8, headers(5, 1800)); }},
        {"values-repeated", [=] { return std::vector<Builder>(2, repeated(defined(), 100)); }},
        {"name-repeated", [=] { return std::vector<Builder>{repeatedName(defined(), 33, 30000)}; }},
    };
    return crafted;
}

// However its chunks are made, a walk decodes no more than its file's size allows: it ends where
// the file's allowance does, and the work of every record it decoded is at most a node and four
// bytes for each byte of the file (the chunks' own budgets would allow fifteen times as many
// nodes). (With VLMAUDIT_CRAFTED=DIR set, each file is also written there at 64 MiB, to be timed
// by hand.)
TEST(BinXml, AWalksWorkIsWithinAMultipleOfItsFilesSize) {
    const char* dir = std::getenv("VLMAUDIT_CRAFTED");
    for (const Crafted& c : craftedChunks()) {
        SCOPED_TRACE(c.name);
        if (dir) {
            const std::vector<uint8_t> large = chunksFile(1023, c.records());
            writeFile(std::string(dir) + "/" + c.name + ".evtx",
                      std::string(large.begin(), large.end()));
        }
        WalkStep ended = WalkStep::Record;
        EXPECT_FALSE(walkAll(chunkFile(c.records()), &ended).empty()); // a chunk alone is sound
        EXPECT_TRUE(ended == WalkStep::End);
        const std::vector<uint8_t> bytes = chunksFile(64, c.records());
        for (int shortRecords : {0, 1}) {
            EvtxFile file;
            ASSERT_TRUE(file.load(bytes));
            file.giveShortRecords(shortRecords);
            EvtxCursor cursor;
            std::vector<uint8_t> record;
            size_t given = 0;
            while ((ended = file.next(cursor, record)) == WalkStep::Record)
                ++given;
            EXPECT_GT(given, 0u);
            EXPECT_TRUE(ended == WalkStep::Broken);
            EXPECT_LE(file.decodedWork().nodes, bytes.size());
            EXPECT_LE(file.decodedWork().bytes, 4 * bytes.size());
        }
    }
}

// Threads that decode ahead spend what they like, but the walk takes each record's cost in its
// own order: read through the event log functions, it ends at the record where the file's own
// walk ends, however the threads ran.
TEST(BinXml, AWalkDecodedAheadEndsWhereTheFilesOwnWalkDoes) {
    Sandbox sandbox;
    const std::string path = sandbox.root() + "/eventlog/Application.evtx";
    for (const Crafted& c : craftedChunks()) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = chunksFile(64, c.records());
        EvtxFile file;
        ASSERT_TRUE(file.load(bytes));
        EvtxCursor cursor;
        std::vector<uint8_t> record;
        std::vector<std::vector<uint8_t>> own;
        while (file.next(cursor, record) == WalkStep::Record)
            own.push_back(record);
        writeFile(path, std::string(bytes.begin(), bytes.end()));
        HANDLE log = OpenEventLogW(nullptr, WSTR("wsxlum"));
        ASSERT_NE(log, nullptr);
        std::vector<std::vector<uint8_t>> read;
        std::vector<uint8_t> buffer(4 << 20);
        DWORD got = 0, needed = 0;
        while (ReadEventLogW(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0,
                             buffer.data(), static_cast<DWORD>(buffer.size()), &got, &needed))
            for (DWORD at = 0; at < got; at += readLe32(&buffer[at]))
                read.emplace_back(&buffer[at], &buffer[at] + readLe32(&buffer[at]));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_EVENTLOG_FILE_CORRUPT));
        EXPECT_TRUE(CloseEventLog(log));
        EXPECT_EQ(read.size(), own.size());
        EXPECT_TRUE(read == own);
    }
}

// The event a logging call writes, each part a value: 0 provider, 1 qualifiers, 2 event ID (of
// the type the shape gives), 3 time, 4 computer, 5 SID (optional), 6 strings, 7 binary data (both
// optional in Data and Binary elements); with a source name of its own (8), Data elements
// after the first (9 on), and an EventRecordID (13).
struct Shape {
    int sourceName = 0;
    int dataElements = 1;
    uint8_t eventIdType = 0x06;
    int recordId = 0;
};
void classicEvent(Xml& t, const Shape& shape) {
    t.element(u"Event", [&](Xml& e) {
        e.element(u"System", [&](Xml& s) {
            s.open(u"Provider", 1).attribute(u"Name").sub(0, 0x01);
            if (shape.sourceName)
                s.attribute(u"EventSourceName").sub(8, 0x01);
            s.u8(0x03);
            s.open(u"EventID", 1).attribute(u"Qualifiers").sub(1, 0x06);
            s.u8(0x02).sub(2, shape.eventIdType).u8(0x04);
            s.open(u"TimeCreated", 1).attribute(u"SystemTime").sub(3, 0x11).u8(0x03);
            if (shape.recordId)
                s.element(u"EventRecordID", [](Xml& c) { c.sub(13, 0x0A); });
            s.element(u"Computer", [](Xml& c) { c.sub(4, 0x01); });
            s.open(u"Security", 1).attribute(u"UserID").sub(5, 0x13, 1).u8(0x03);
        });
        e.element(u"EventData", [&](Xml& d) {
            for (int k = 0; k < shape.dataElements; ++k)
                d.element(u"Data", [k](Xml& x) {
                    x.sub(static_cast<uint16_t>(k == 0 ? 6 : 8 + k), 0x81, 1);
                });
            d.element(u"Binary", [](Xml& x) { x.sub(7, 0x0E, 1); });
        });
    });
}

// Both ways to a record's short record, the second of a chunk whose first record defines its
// template: straight from its values, and by its event. Both have the plan the first record made
// and what it left of the chunk's budget, or budget when one is given. With textAfter, the second
// record has text after its template's values.
struct BothWays {
    int taken = 0, decoded = 0;
    std::vector<uint8_t> fromBrief, fromEvent;
    DecodeBudget before, briefBudget, eventBudget;
};
BothWays bothWays(const Shape& shape, const std::vector<Value>& firstValues,
                  const std::vector<Value>& values, const DecodeBudget* budget = nullptr,
                  int textAfter = 0) {
    auto defined = std::make_shared<uint32_t>(0);
    auto record = [&](const std::vector<Value>& v, int text) -> Builder {
        return [=](Xml& x) {
            instance(
                x, defined.get(), [&](Xml& t) { classicEvent(t, shape); }, v);
            if (text)
                x.text(u"x");
        };
    };
    const std::vector<uint8_t> file =
        chunkFile({record(firstValues, 0), record(values, textAfter)});
    const uint8_t* c = &file[kEvtxHeaderBlock];
    const uint32_t first = kEvtxChunkHeaderSize, second = first + readLe32(c + first + 4);
    const uint32_t begin = second + 24, end = second + readLe32(c + second + 4) - 4;
    BothWays both;
    TemplateCache briefPlans, eventPlans;
    EvtxEvent event;
    EXPECT_TRUE(decodeEventXml(c, kEvtxChunkSize, first + 24, second - 4, event, &briefPlans, 0,
                               &both.briefBudget));
    EXPECT_TRUE(decodeEventXml(c, kEvtxChunkSize, first + 24, second - 4, event, &eventPlans, 0,
                               &both.eventBudget));
    if (budget)
        both.briefBudget = both.eventBudget = *budget;
    both.before = both.briefBudget;
    EvtxBrief brief;
    both.taken =
        decodeEventBrief(c, kEvtxChunkSize, begin, end, briefPlans, 0, both.briefBudget, brief);
    RecordBytes bytes;
    if (both.taken)
        writeShortRecord(brief, legacyRecordNumber(brief.recordId, 77), bytes);
    both.fromBrief.assign(bytes.data(), bytes.data() + bytes.size());
    bytes.clear();
    both.decoded =
        decodeEventXml(c, kEvtxChunkSize, begin, end, event, &eventPlans, 0, &both.eventBudget) &&
        buildShortRecord(event, legacyRecordNumber(event.numbers[EvtxRecordId], 77), bytes);
    both.fromEvent.assign(bytes.data(), bytes.data() + bytes.size());
    return both;
}

// A record read straight to its short record gets the one its event makes, at the same cost;
// one left to the event's way costs nothing first.
void expectTheSame(const BothWays& both) {
    if (!both.taken) {
        EXPECT_EQ(both.briefBudget.nodes, both.before.nodes);
        EXPECT_EQ(both.briefBudget.bytes, both.before.bytes);
        return;
    }
    EXPECT_TRUE(both.decoded);
    EXPECT_EQ(both.fromBrief, both.fromEvent);
    EXPECT_EQ(both.briefBudget.nodes, both.eventBudget.nodes);
    EXPECT_EQ(both.briefBudget.bytes, both.eventBudget.bytes);
}

const std::vector<Value>& everyValue() {
    static const std::vector<Value> every = {
        units(u"wsxlum"),
        raw(0x06, {0x34, 0x12}),
        raw(0x06, {2, 0}),
        raw(0x11, {0, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01}),
        units(u"HOST"),
        raw(0x13, {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}),
        units(u"ab\0c\0"s, 0x81),
        raw(0x0E, {1, 2, 3, 4, 5}),
        units(u"legacy"),
        units(u"\0x"s, 0x81),
        units(u"y"s, 0x81),
        units(u"z\0"s, 0x81),
        raw(0x81, {})};
    return every;
}

// A record of a template that puts no more than a short record shows is read straight to its
// short record from its values; any other is left to its event.
TEST(BinXml, ShortRecordsReadStraightFromValuesAreThoseOfTheirEvents) {
    const Value null = raw(0x00, {});
    auto with = [](std::vector<std::pair<size_t, Value>> changes, size_t count = 8) {
        std::vector<Value> values(everyValue().begin(),
                                  everyValue().begin() + static_cast<long>(count));
        for (const auto& change : changes)
            values[change.first] = change.second;
        return values;
    };
    const Shape classic, ownSource{1, 1, 0x06}, twoData{0, 2, 0x06}, fiveData{0, 5, 0x06},
        idOfOneByte{0, 1, 0x04}, idOfFourBytes{0, 1, 0x08};
    const struct {
        const char* name;
        Shape shape;
        std::vector<Value> values;
        int taken;
    } rows[] = {
        {"every value", classic, with({}), 1},
        {"no SID, strings or data", classic, with({{5, null}, {6, null}, {7, null}}), 1},
        {"empty items, and one unterminated", classic, with({{6, units(u"\0\0x"s, 0x81)}}), 1},
        {"texts that end in zero units, one odd-sized", classic,
         with({{0, units(u"wsxlum\0\0"s)}, {4, raw(0x01, {'H', 0, 'O'})}}), 1},
        {"a number shorter than its type", classic, with({{1, raw(0x06, {7})}}), 1},
        {"an event ID of one byte", idOfOneByte, with({{2, raw(0x04, {9})}}), 1},
        {"an event ID of four bytes", idOfFourBytes, with({{2, raw(0x08, {2, 0, 1, 0})}}), 1},
        {"a SID of another type", classic, with({{5, units(u"S-1-5-18")}}), 1},
        {"the optional values left out: one empty string", classic, with({}, 6), 1},
        {"a source name of its own", ownSource, with({}, 10), 1},
        {"an empty source name", ownSource, with({{8, units(u"")}}, 10), 1},
        {"two Data elements", twoData, with({}, 10), 1},
        {"strings given empty: none", classic, with({{6, raw(0x81, {})}}), 1},
        {"too few values for the quick steps", classic, with({}, 5), 0},
        {"an event ID of another type", classic, with({{2, raw(0x08, {2, 0, 0, 0})}}), 0},
        {"binary data given as text", classic, with({{7, units(u"0A0B")}}), 0},
        {"strings given as one string", classic, with({{6, units(u"abc")}}), 0},
        {"strings of binary XML", classic,
         with({{6, binXml([](Xml& x) { x.element(u"x", [](Xml&) {}); })}}), 0},
        {"more Data elements than a brief keeps", fiveData, with({}, 13), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const BothWays both = bothWays(row.shape, with({}, 13), row.values);
        EXPECT_EQ(both.taken, row.taken);
        expectTheSame(both);
    }
}

// The short record's number is the event's EventRecordID (its low 32 bits), or the chunk's
// number of the record where that is 0, read straight as from the event.
TEST(BinXml, ShortRecordsReadStraightKeepTheRecordsNumber) {
    Shape numbered;
    numbered.recordId = 1;
    const struct {
        std::vector<uint8_t> id;
        uint32_t number;
    } rows[] = {
        {{0x39, 0x30, 0, 0, 0, 0, 0, 0}, 12345},
        {{2, 0, 0, 0, 1, 0, 0, 0}, 2},
        {{0, 0, 0, 0, 0, 0, 0, 0}, 77},
    };
    for (const auto& row : rows) {
        std::vector<Value> values(everyValue().begin(), everyValue().begin() + 13);
        values.push_back(raw(0x0A, row.id));
        const BothWays both = bothWays(numbered, values, values);
        EXPECT_EQ(both.taken, 1);
        expectTheSame(both);
        ASSERT_GE(both.fromBrief.size(), kShortSource);
        EXPECT_EQ(readLe32(&both.fromBrief[kShortRecordNumber]), row.number);
    }
}

// A record with more than its template's instance is left to its event, which walks the rest.
TEST(BinXml, ShortRecordsReadStraightEndWithTheirValues) {
    const std::vector<Value> values(everyValue().begin(), everyValue().begin() + 8);
    const BothWays both = bothWays(Shape(), values, values, nullptr, 1);
    EXPECT_EQ(both.taken, 0);
    EXPECT_TRUE(both.decoded);
    expectTheSame(both);
}

// Where the chunk's budget or the event's bound runs out, the record is left to its event, which
// fails there: it is read straight exactly when its event is made.
TEST(BinXml, ShortRecordsReadStraightStopWhereTheirEventsDo) {
    const std::vector<Value> values(everyValue().begin(), everyValue().begin() + 8);
    for (uint64_t nodes = 0; nodes < 40; ++nodes) {
        const DecodeBudget budget{nodes, 1u << 20};
        const BothWays both = bothWays(Shape(), values, values, &budget);
        EXPECT_EQ(both.taken, both.decoded) << nodes << " nodes";
        expectTheSame(both);
    }
    for (uint64_t bytes = 0; bytes < 160; ++bytes) {
        const DecodeBudget budget{1u << 20, bytes};
        const BothWays both = bothWays(Shape(), values, values, &budget);
        EXPECT_EQ(both.taken, both.decoded) << bytes << " bytes";
        expectTheSame(both);
    }
}

} // namespace
