// The .evtx stand-in against real Windows logs and its own writer, checked by independent
// readers (Linux).
#include "formats/evtx/crc32.h"
#include "formats/evt/event_record.h"
#include "formats/evtx/evtx_file.h"
#include "formats/evtx/evtx_read_ahead.h"
#include "formats/evtx/evtx_writer.h"
#include "formats/little_endian.h"
#include "support/support.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

std::string dataDir() {
    return std::string(VLMAUDIT_TEST_DATA) + "/evtx/";
}

std::vector<uint8_t> bytesOf(const std::string& path) {
    std::string text = readFile(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

// A record as the oracle script prints it: id|source|EventID|TimeGenerated|data hex|strings.
std::string lineOf(const std::vector<uint8_t>& r) {
    std::u16string source;
    for (size_t i = kEventRecordHeaderSize; i + 1 < r.size() && readLe16(&r[i]); i += 2)
        source += static_cast<char16_t>(readLe16(&r[i]));
    std::ostringstream line;
    line << readLe32(&r[8]) << '|' << utf8(WString(source.begin(), source.end())) << '|'
         << readLe32(&r[20]) << '|' << readLe32(&r[12]) << '|';
    static const char kHex[] = "0123456789ABCDEF";
    for (uint32_t i = 0; i < readLe32(&r[48]); ++i) {
        uint8_t b = r[readLe32(&r[52]) + i];
        line << kHex[b >> 4] << kHex[b & 15];
    }
    line << '|' << readLe16(&r[26]);
    return line.str();
}

// The records of a walk, newest first, until it ends; *broken when it ended at a record that
// cannot be decoded.
std::vector<std::vector<uint8_t>> walk(EvtxFile& file, int* broken = nullptr, int backwards = 1) {
    std::vector<std::vector<uint8_t>> records;
    EvtxCursor cursor;
    cursor.backwards = backwards;
    std::vector<uint8_t> record;
    WalkStep got;
    while ((got = file.next(cursor, record)) == WalkStep::Record)
        records.push_back(record);
    if (broken)
        *broken = got == WalkStep::Broken;
    return records;
}

// The record identifiers of a walk's records, each once.
std::set<uint64_t> idsOf(const std::vector<std::vector<uint8_t>>& records) {
    std::set<uint64_t> ids;
    for (const std::vector<uint8_t>& record : records)
        ids.insert(readLe32(&record[8]));
    return ids;
}

// A record of a chunk as it is framed: its place in the chunk, size and identifier.
struct RecordAt {
    uint32_t offset, size;
    uint64_t id;
};
// The records framed in the file's chunk, up to its free space or the first broken frame.
std::vector<RecordAt> framedRecords(const std::vector<uint8_t>& bytes, size_t chunk) {
    std::vector<RecordAt> records;
    const uint8_t* c = &bytes[kEvtxHeaderBlock + chunk * kEvtxChunkSize];
    const uint32_t end = readLe32(c + 48);
    for (uint32_t at = kEvtxChunkHeaderSize, size; at + 24 <= end; at += size) {
        size = readLe32(c + at + 4);
        if (readLe32(c + at) != kEvtxRecordSignature || size < 28 || size > end - at ||
            readLe32(c + at + size - 4) != size)
            break;
        records.push_back({at, size, readLe32(c + at + 8)});
    }
    return records;
}

std::vector<std::string> standInLines(const std::vector<uint8_t>& bytes) {
    EvtxFile file;
    EXPECT_TRUE(file.load(bytes));
    std::vector<std::string> lines;
    for (const std::vector<uint8_t>& record : walk(file))
        lines.push_back(lineOf(record));
    return lines;
}

// What an oracle says, or nothing when it is not installed.
std::vector<std::string> oracleLines(const char* oracle, const std::string& path) {
    std::string command = std::string(VLMAUDIT_SOURCE_DIR) + "/tests/formats/evtx/evtx_oracle.py " +
                          oracle + " '" + path + "' 2>/dev/null";
    std::vector<std::string> lines;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        while (fgets(buf, sizeof buf, p)) {
            std::string line = buf;
            if (!line.empty() && line.back() == '\n')
                line.pop_back();
            lines.push_back(line);
        }
        pclose(p);
    }
    return lines;
}

// python-evtx shows an empty insertion string and an empty array of them alike: its count of
// strings is left out of the lines compared with it.
void dropStringCount(std::vector<std::string>& lines) {
    for (std::string& line : lines)
        line.erase(line.rfind('|'));
}

int haveOracles() {
    return std::system("command -v evtxexport >/dev/null && /usr/bin/python3 -c 'import Evtx' "
                       "2>/dev/null") == 0;
}

// The checksum of every length and alignment around the steps of each path (tables, folds of
// 64 and 128 bytes, 16-byte tails, single bytes), against one bit at a time, from a running
// value as well.
TEST(Crc32, EqualsTheBitwiseDefinitionAtEveryLengthAndAlignment) {
    auto bitwise = [](const uint8_t* data, size_t size, uint32_t crc) {
        crc = ~crc;
        for (size_t i = 0; i < size; ++i) {
            crc ^= data[i];
            for (int k = 0; k < 8; ++k)
                crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
        return ~crc;
    };
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc32(check, sizeof check), 0xCBF43926u); // the catalogue's check value
    std::vector<uint8_t> bytes(1100);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    for (size_t size = 0; size <= 1040; ++size)
        for (size_t offset : {0, 1, 7}) {
            uint32_t seed = size % 3 ? static_cast<uint32_t>(size * 40503u) : 0;
            const uint32_t want = bitwise(&bytes[offset], size, seed);
            ASSERT_EQ(crc32(&bytes[offset], size, seed), want) << size << " bytes from " << offset;
            for (int path = 0; path <= 1; ++path)
                ASSERT_EQ(crc32Along(path, &bytes[offset], size, seed), want)
                    << size << " bytes from " << offset << " along " << path;
        }
}

TEST(EvtxRealLogs, MatchTheIndependentReaders) {
    if (!haveOracles())
        GTEST_SKIP() << "evtxexport or python3-evtx is not installed";
    const struct {
        const char* file;
        size_t records;
        std::vector<size_t> damaged; // chunks read as far as their records decode
    } rows[] = {
        {"application-dirty.evtx", 195, {}},
        {"application-no-checksums.evtx", 17, {}},
        {"system-dirty.evtx", 1881, {}},
        // Chunks 0, 7 and 9 fail their data checksum; 1 to 6 and 10 to 15 were never written,
        // or were wiped.
        {"appx-bad-chunks.evtx", 267, {0, 7, 9}},
        // Copied from a running server before Windows updated the current chunk's checksums: no
        // damage.
        {"live-copy-bad-checksum.evtx", 16, {}},
        {"security-bad-header-checksum.evtx", 2261, {0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        std::string path = dataDir() + row.file;
        std::vector<uint8_t> bytes = bytesOf(path);
        EvtxFile file;
        ASSERT_TRUE(file.load(bytes));
        walk(file);
        EXPECT_TRUE(file.skippedChunks().empty());
        EXPECT_EQ(file.damagedChunks(), row.damaged);
        const std::vector<std::string> all = standInLines(bytes);
        EXPECT_EQ(all.size(), row.records);
        for (const char* oracle : {"python-evtx", "evtxexport"}) {
            std::vector<std::string> ours = all, theirs = oracleLines(oracle, path);
            if (std::string(oracle) == "python-evtx") {
                dropStringCount(ours);
                dropStringCount(theirs);
            }
            // In a damaged chunk the readers stop at different records: ours must be among
            // theirs, and every record evtxexport reads must be among ours.
            std::set<std::string> known(theirs.begin(), theirs.end());
            for (const std::string& line : ours)
                EXPECT_TRUE(known.count(line)) << oracle << " has no " << line;
            if (std::string(oracle) == "evtxexport") {
                std::set<std::string> read(ours.begin(), ours.end());
                for (const std::string& line : theirs)
                    EXPECT_TRUE(read.count(line)) << "we have no " << line;
            }
            if (row.damaged.empty()) {
                EXPECT_EQ(ours, theirs) << oracle;
            }
        }
    }
}

} // namespace

namespace {

// Records of every shape the writer must carry: qualifiers and severity bits, each event type,
// strings (none, empty, several, outside the BMP), a SID, data, over several chunks.
std::vector<EvtRecordFields> variedRecords(size_t count) {
    const std::vector<std::vector<std::u16string>> strings = {
        {}, {u"one"}, {u"", u"x"}, {u"\u65e5\u672c", u"\U0001D49Cb", u"c"}};
    const uint16_t types[] = {0, 1, 2, 4, 8, 16};
    const uint32_t ids[] = {1, 2, 3, 0x40000002, 0xC0001234, 0x8000FFFF};
    std::vector<EvtRecordFields> records(count);
    for (size_t i = 0; i < count; ++i) {
        EvtRecordFields& f = records[i];
        f.source = i % 5 ? u"wsxlum" : u"Application Error";
        f.computer = i % 2 ? u"VLMHOST" : u"SERVER-\u00c9";
        f.eventId = ids[i % 6];
        f.eventType = types[i % 6];
        f.category = static_cast<uint16_t>(i % 7);
        f.timeGenerated = 1588291200 + static_cast<uint32_t>(i) * 37;
        f.timeWritten = f.timeGenerated + static_cast<uint32_t>(i % 3);
        f.strings = strings[i % 4];
        if (i % 3 == 0)
            f.userSid = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}; // S-1-5-18
        for (size_t k = 0; k < i % 40; ++k)
            f.data.push_back(static_cast<uint8_t>(i + k));
    }
    return records;
}

TEST(EvtxWriter, ItsFilesReadBackWholeHereAndInBothOracles) {
    Sandbox sandbox;
    const std::vector<EvtRecordFields> records = variedRecords(1500);
    const std::vector<uint8_t> bytes = buildEvtxFile(records);
    EvtxFile file;
    ASSERT_TRUE(file.load(bytes));
    EXPECT_GT(file.chunkCount(), 3u);
    const std::vector<std::vector<uint8_t>> walked = walk(file);
    EXPECT_TRUE(file.skippedChunks().empty());
    ASSERT_EQ(walked.size(), records.size());
    for (size_t i = 0; i < walked.size(); ++i) {
        const std::vector<uint8_t>& record = walked[i];
        const EvtRecordFields& want = records[records.size() - 1 - i];
        EvtRecordFields got;
        ASSERT_TRUE(parseEvtRecord(record.data(), static_cast<uint32_t>(record.size()), got));
        EXPECT_EQ(readLe32(&record[8]), records.size() - i);
        EXPECT_TRUE(got.source == want.source && got.computer == want.computer &&
                    got.eventId == want.eventId && got.eventType == want.eventType &&
                    got.category == want.category && got.timeGenerated == want.timeGenerated &&
                    got.timeWritten == want.timeWritten && got.strings == want.strings &&
                    got.userSid == want.userSid && got.data == want.data)
            << "record " << records.size() - i;
    }
    if (!haveOracles())
        GTEST_SKIP() << "evtxexport or python3-evtx is not installed";
    const std::string path = sandbox.root() + "/written.evtx";
    writeFile(path, std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> ours = standInLines(bytes);
    EXPECT_EQ(oracleLines("evtxexport", path), ours);
    dropStringCount(ours);
    std::vector<std::string> python = oracleLines("python-evtx", path);
    dropStringCount(python);
    EXPECT_EQ(python, ours);
}

// Damage, one change at a time to a file of several chunks: which chunks are passed over or
// read in part, how many records are lost, and whether the walk ends at a record that cannot be
// decoded.
TEST(EvtxDamage, ChunksArePassedOverOrReadInPartAndBrokenRecordsEndTheWalk) {
    const std::vector<uint8_t> good = buildEvtxFile(variedRecords(600));
    EvtxFile intact;
    ASSERT_TRUE(intact.load(good));
    ASSERT_GE(intact.chunkCount(), 3u);
    const size_t all = walk(intact).size();
    const size_t chunk1 = kEvtxHeaderBlock + kEvtxChunkSize;
    const uint32_t firstRecord = static_cast<uint32_t>(chunk1 + kEvtxChunkHeaderSize);
    const uint32_t secondRecord = firstRecord + readLe32(&good[firstRecord + 4]);
    auto recordsOf = [&](size_t chunk) {
        return readLe32(&good[chunk + 16]) - readLe32(&good[chunk + 8]) + 1;
    };
    const size_t inChunk0 = recordsOf(kEvtxHeaderBlock), inChunk1 = recordsOf(chunk1);
    const size_t lastChunk = intact.chunkCount() - 1;
    const size_t last = kEvtxHeaderBlock + lastChunk * kEvtxChunkSize;
    const size_t lastFirstRecordEnd =
        last + kEvtxChunkHeaderSize + readLe32(&good[last + kEvtxChunkHeaderSize + 4]);
    auto noChecksums = [](std::vector<uint8_t>& b) { writeLe32(&b[120], readLe32(&b[120]) | 4); };
    // A copy of a running log: dirty, its last chunk the current one, whose data checksum is
    // stale.
    auto dirty = [](std::vector<uint8_t>& b) {
        writeLe32(&b[120], readLe32(&b[120]) | kEvtxFlagDirty);
    };
    auto live = [&](std::vector<uint8_t>& b) {
        dirty(b);
        b[last + 52] ^= 1;
    };
    const std::vector<RecordAt> lastRecords = framedRecords(good, lastChunk);
    const struct {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        std::vector<size_t> skipped, damaged;
        size_t lost;
        int decodeFails; // the walk stops at a record that cannot be decoded
    } rows[] = {
        {"intact", [](std::vector<uint8_t>&) {}, {}, {}, 0, 0},
        {"a data byte of chunk 1 that still decodes",
         [&](std::vector<uint8_t>& b) { b[secondRecord + 16] ^= 1; },
         {},
         {1},
         0,
         0},
        {"a data byte of chunk 1 that no longer decodes", // newest first, the chunk ends there
         [&](std::vector<uint8_t>& b) { b[secondRecord + 24] = 0x33; },
         {},
         {1},
         2,
         0},
        {"a chunk header byte",
         [&](std::vector<uint8_t>& b) { b[chunk1 + 60] ^= 1; },
         {},
         {1},
         0,
         0},
        {"the file cut after the first record of its last chunk", // a copy of a growing log
         [&](std::vector<uint8_t>& b) { b.resize(lastFirstRecordEnd + 10); },
         {},
         {lastChunk},
         recordsOf(last) - 1,
         0},
        {"the signature of chunk 1",
         [&](std::vector<uint8_t>& b) { b[chunk1] = 'X'; },
         {1},
         {},
         inChunk1,
         0},
        {"a record frame, no checksums kept",
         [&](std::vector<uint8_t>& b) {
             noChecksums(b);
             b[secondRecord] = 0;
         },
         {},
         {1},
         inChunk1 - 1,
         0},
        {"chunk 1's header says its records are older than they are, no checksums kept",
         [&](std::vector<uint8_t>& b) { // its records are given aside
             noChecksums(b);
             writeLe32(&b[chunk1 + 24], 1);
             writeLe32(&b[chunk1 + 32], 1);
         },
         {},
         {1},
         0,
         0},
        {"a live copy: the current chunk's data checksum stale", live, {}, {}, 0, 0},
        {"a live copy: the current chunk's header checksum stale too",
         [&](std::vector<uint8_t>& b) {
             live(b);
             b[last + 124] ^= 1;
         },
         {},
         {},
         0,
         0},
        {"a live copy: the current chunk's newest record cut off",
         [&](std::vector<uint8_t>& b) {
             live(b);
             const RecordAt& newest = lastRecords.back();
             std::fill(&b[last + newest.offset + 24], &b[last + newest.offset + newest.size], 0);
         },
         {},
         {},
         1,
         0},
        {"a live copy: the current chunk's second record no longer decodes",
         [&](std::vector<uint8_t>& b) {
             live(b);
             b[last + lastRecords[1].offset + 24] = 0x33;
         },
         {},
         {lastChunk},
         2,
         0},
        {"a live copy: a frame broken in the middle of the current chunk",
         [&](std::vector<uint8_t>& b) {
             live(b);
             b[last + lastRecords[1].offset] = 0;
         },
         {},
         {lastChunk},
         lastRecords.size() - 1,
         0},
        {"a dirty log: a stale data checksum in another chunk than the current one",
         [&](std::vector<uint8_t>& b) {
             dirty(b);
             b[chunk1 + 52] ^= 1;
         },
         {},
         {1},
         0,
         0},
        {"records numbered from 0, and a sound copy of chunk 0 after the last chunk",
         [&](std::vector<uint8_t>& b) { // a copy, though its records are the walk's last
             b = buildEvtxFile(variedRecords(600), 0);
             b.insert(b.end(), &b[kEvtxHeaderBlock], &b[chunk1]);
         },
         {},
         {},
         0,
         0},
        {"a record's binary XML, no checksums kept",
         [&](std::vector<uint8_t>& b) {
             noChecksums(b);
             b[secondRecord + 24] = 0x33; // no token
         },
         {},
         {},
         inChunk0 + 2,
         1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<uint8_t> bytes = good;
        row.damage(bytes);
        EvtxFile file;
        ASSERT_TRUE(file.load(bytes));
        int broken = 0;
        const std::vector<std::vector<uint8_t>> walked = walk(file, &broken);
        const size_t decoded = walked.size();
        EXPECT_EQ(idsOf(walked).size(), decoded) << "a record given twice";
        EXPECT_EQ(file.skippedChunks(), row.skipped);
        EXPECT_EQ(file.damagedChunks(), row.damaged);
        EXPECT_EQ(broken, row.decodeFails);
        EXPECT_EQ(decoded, all - row.lost);
        EXPECT_EQ(file.damageText().empty(), row.skipped.empty() && row.damaged.empty());
    }
    EvtxFile none;
    std::vector<uint8_t> notEvtx = good;
    notEvtx[3] = 'X';
    EXPECT_FALSE(none.load(notEvtx));
}

// Chunks that fail a checksum, whatever their headers say: every record framed in the file is
// given, once, wherever its chunk lies, and at least every record the independent readers give.
TEST(EvtxDamage, EveryRecordOfADamagedChunkIsGivenOnce) {
    Sandbox sandbox;
    const std::vector<uint8_t> good = buildEvtxFile(variedRecords(1000));
    // The same log, a generation later: the same records, numbered on.
    const std::vector<uint8_t> later = buildEvtxFile(variedRecords(1000), 5001);
    const size_t chunks = (good.size() - kEvtxHeaderBlock) / kEvtxChunkSize;
    ASSERT_GE(chunks, 4u);
    auto at = [](size_t chunk) { return kEvtxHeaderBlock + chunk * kEvtxChunkSize; };
    // Records from the k-th to the n-th of the chunk, from the other generation's same chunk.
    auto tear = [&](std::vector<uint8_t>& b, const std::vector<uint8_t>& from, size_t chunk,
                    size_t k, size_t n) {
        const std::vector<RecordAt> these = framedRecords(b, chunk),
                                    those = framedRecords(from, chunk);
        ASSERT_TRUE(n < these.size() && n < those.size() && these[k].offset == those[k].offset &&
                    these[n].offset == those[n].offset);
        std::copy(&from[at(chunk) + those[k].offset], &from[at(chunk) + those[n].offset],
                  &b[at(chunk) + these[k].offset]);
    };
    const struct {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        std::vector<size_t> damaged;
    } rows[] = {
        {"the newest chunk's header numbers not yet written",
         [&](std::vector<uint8_t>& b) {
             std::fill(&b[at(chunks - 1) + 8], &b[at(chunks - 1) + 40], 0);
         },
         {chunks - 1}},
        {"the same in a live copy, the newest chunk being the current one",
         [&](std::vector<uint8_t>& b) {
             std::fill(&b[at(chunks - 1) + 8], &b[at(chunks - 1) + 40], 0);
             writeLe32(&b[120], readLe32(&b[120]) | kEvtxFlagDirty);
         },
         {}},
        {"chunk 1's header says its last record is 1000",
         [&](std::vector<uint8_t>& b) {
             writeLe32(&b[at(1) + 16], 1000);
             writeLe32(&b[at(1) + 32], 1000);
         },
         {1}},
        {"chunks torn between two generations",
         [&](std::vector<uint8_t>& b) {
             tear(b, later, 1, 3, 20); // newer records amid older ones
             std::copy(&later[at(2)], &later[at(3)], &b[at(2)]);
             tear(b, good, 2, 10, 30); // and older ones amid newer ones
         },
         {1, 2}},
        {"a stale copy of chunk 1 whose header fails its checksum",
         [&](std::vector<uint8_t>& b) {
             b.insert(b.end(), &good[at(1)], &good[at(2)]);
             b[b.size() - kEvtxChunkSize + 124] ^= 1;
         },
         {chunks}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<uint8_t> bytes = good;
        row.damage(bytes);
        std::set<uint64_t> framed;
        for (size_t chunk = 0; chunk * kEvtxChunkSize + kEvtxHeaderBlock < bytes.size(); ++chunk)
            for (const RecordAt& r : framedRecords(bytes, chunk))
                framed.insert(r.id);
        EvtxFile file;
        ASSERT_TRUE(file.load(bytes));
        const std::vector<std::vector<uint8_t>> walked = walk(file);
        EXPECT_EQ(file.damagedChunks(), row.damaged);
        EXPECT_EQ(walked.size(), framed.size());
        EXPECT_TRUE(idsOf(walked) == framed);
        const std::vector<std::vector<uint8_t>> forwards = walk(file, nullptr, 0);
        EXPECT_EQ(forwards.size(), framed.size());
        EXPECT_TRUE(idsOf(forwards) == framed);
        // The walk decoded ahead on other threads gives the same records, in the same order.
        EvtxFile again;
        ASSERT_TRUE(again.load(bytes));
        EvtxCursor cursor;
        EvtxReadAhead ahead(again, cursor);
        if (ahead.start()) {
            std::vector<std::vector<uint8_t>> decodedAhead;
            const EvtxBatch::Record* record = nullptr;
            const uint8_t* recordBytes = nullptr;
            while (ahead.peek(&record, &recordBytes) == WalkStep::Record) {
                decodedAhead.emplace_back(recordBytes, recordBytes + record->length);
                EvtxFile::take(cursor, *record);
            }
            EXPECT_TRUE(decodedAhead == walked);
            EXPECT_EQ(again.damagedChunks(), row.damaged);
        }
        const std::string path = sandbox.root() + "/damaged.evtx";
        writeFile(path, std::string(bytes.begin(), bytes.end()));
        for (const char* oracle : {"evtxexport", "python-evtx"}) {
            std::vector<std::string> ours = standInLines(bytes), theirs = oracleLines(oracle, path);
            if (std::string(oracle) == "python-evtx") {
                dropStringCount(ours);
                dropStringCount(theirs);
            }
            const std::set<std::string> given(ours.begin(), ours.end());
            for (const std::string& line : theirs)
                EXPECT_TRUE(given.count(line)) << oracle << " has " << line << ", we do not";
        }
    }
}

// The legacy record is built only up to the largest a reader takes, whatever the event holds;
// lengths and offsets never wrap.
TEST(EventRecord, IsBuiltOnlyWhenItFits) {
    const std::u16string source = u"s", computer;
    const std::vector<uint8_t> none;
    const std::vector<std::u16string> noStrings, twoHalves(2, std::u16string(4u << 20, u'x'));
    const struct {
        const char* what;
        size_t data;
        const std::vector<std::u16string>& strings;
        int fits;
    } rows[] = {
        {"data to the largest record", kLargestEventRecord - 68, noStrings, 1},
        {"a byte more", kLargestEventRecord - 67, noStrings, 0},
        {"strings of 16 MiB", 0, twoHalves, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::vector<uint8_t> data(row.data, 7);
        std::vector<uint8_t> out(10);
        EXPECT_EQ(buildEvtRecordInto(EvtRecordFields(), {source, computer, row.strings, none, data},
                                     1, out),
                  row.fits);
        EXPECT_EQ(out.size(), row.fits ? size_t(kLargestEventRecord) : 0u);
    }
}

// A sparse file of 64 GiB whose newest chunk lies half-way, between holes: the holes are never
// written chunks, and the chunk beyond the first hole is found.
TEST(EvtxWalk, HolesOfASparseFileAreChunksNeverWritten) {
    Sandbox sandbox;
    const std::vector<uint8_t> bytes = buildEvtxFile(variedRecords(600));
    EvtxFile intact;
    ASSERT_TRUE(intact.load(bytes));
    const std::vector<std::vector<uint8_t>> newest = walk(intact);
    const size_t last = intact.chunkCount() - 1, far = 500000;
    const std::string path = sandbox.root() + "/sparse.evtx";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const uint64_t lastAt = kEvtxHeaderBlock + uint64_t(last) * kEvtxChunkSize;
    ASSERT_EQ(pwrite(fd, bytes.data(), lastAt, 0), ssize_t(lastAt));
    ASSERT_EQ(pwrite(fd, &bytes[lastAt], kEvtxChunkSize,
                     off_t(kEvtxHeaderBlock + uint64_t(far) * kEvtxChunkSize)),
              ssize_t(kEvtxChunkSize));
    ASSERT_EQ(ftruncate(fd, off_t(64) << 30), 0);
    EvtxFile file;
    ASSERT_TRUE(file.open(fd));
    EXPECT_TRUE(walk(file) == newest);
    EXPECT_TRUE(file.skippedChunks().empty());
    EXPECT_TRUE(file.damagedChunks().empty());
    close(fd);
    // evtutil too reads it a chunk at a time, never as a whole.
    const std::string listed = sandbox.root() + "/listed";
    EXPECT_EQ(std::system((EVTUTIL_BINARY " list " + path + " >" + listed).c_str()), 0);
    const std::string lines = readFile(listed);
    EXPECT_EQ(size_t(std::count(lines.begin(), lines.end(), '\n')), newest.size());
}

// evtutil writes the records of several computers, numbered from where it is told, in both
// formats alike; convert keeps the numbers, and list shows each record's computer when asked.
TEST(EvtutilWrites, ComputersAndFirstRecordNumbers) {
    Sandbox sandbox;
    const std::string dir = sandbox.root() + "/", evtutil = EVTUTIL_BINARY;
    auto run = [&](const std::string& command) {
        const std::string out = dir + "out";
        const int status = std::system((command + " >" + out + " 2>&1").c_str());
        return std::to_string(status) + ":" + readFile(out);
    };
    writeFile(dir + "batch", "logon 1588291200 3 rdp#3\\D\\alice\n"
                             "computer SRV-B\n"
                             "logon 1588291201 3 rdp#3\\D\\bob\n"
                             "event Other 7 1588291202\n"
                             "computer SRV-A\n"
                             "reboot 1588291203\n");
    const std::string listed = "0:1004\t2020-05-01 00:00:03\t1\twsxlum\tSRV-A\n"
                               "1003\t2020-05-01 00:00:02\t7\tOther\tSRV-B\n"
                               "1002\t2020-05-01 00:00:01\t2\twsxlum\tSRV-B\t3\trdp#3\\D\\bob\n"
                               "1001\t2020-05-01 00:00:00\t2\twsxlum\tSRV-A\t3\trdp#3\\D\\alice\n";
    for (const char* log : {"log.evt", "log.evtx"}) {
        SCOPED_TRACE(log);
        EXPECT_EQ(run(evtutil + " batch " + dir + log + " --computer SRV-A --first-record 1001 <" +
                      dir + "batch"),
                  "0:");
        EXPECT_EQ(run(evtutil + " list " + dir + log + " --show-computer"), listed);
    }
    // The list without the computer is as it always was.
    EXPECT_EQ(run(evtutil + " list " + dir + "log.evtx"),
              run(evtutil + " list " + dir + "log.evt"));
    EXPECT_EQ(run(evtutil + " convert " + dir + "log.evt " + dir + "converted.evtx"), "0:");
    EXPECT_EQ(run(evtutil + " list " + dir + "converted.evtx --show-computer"), listed);
    // A single record, and a new log whose numbers go on from another's.
    EXPECT_EQ(run(evtutil + " create " + dir + "next.evt --first-record 1005"), "0:");
    EXPECT_EQ(run(evtutil + " reboot " + dir + "next.evt 1588291204 --computer SRV-C"), "0:");
    EXPECT_EQ(run(evtutil + " list " + dir + "next.evt --show-computer"),
              "0:1005\t2020-05-01 00:00:04\t1\twsxlum\tSRV-C\n");
    EXPECT_NE(run(evtutil + " create " + dir + "zero.evt --first-record 0").substr(0, 2), "0:");
}

// A template that instantiates itself, and elements nested without end: the decoder stops.
TEST(EvtxDamage, EndlessNestingIsRefused) {
    std::vector<uint8_t> bytes = buildEvtxFile(variedRecords(1));
    writeLe32(&bytes[120], 4); // no checksums: the chunk is read as it is
    const uint32_t chunk = kEvtxHeaderBlock, x = kEvtxChunkHeaderSize + 24; // the binary XML
    // An instance: token, a byte, the template's identifier, where its definition is.
    auto instance = [](uint32_t definition) {
        std::vector<uint8_t> b = {0x0f, 1, 1, 0, 0x0c, 1, 0, 0, 0, 0, 0, 0, 0, 0};
        writeLe32(&b[10], definition);
        return b;
    };
    std::vector<uint8_t> body = instance(x + 14); // refers to its own definition
    body.insert(body.end(), {0, 0, 0, 0, 0});     // no values, end of stream
    std::vector<uint8_t> xml = instance(x + 14);  // defined right here
    xml.resize(xml.size() + 24, 0);
    writeLe32(&xml[14 + 20], static_cast<uint32_t>(body.size()));
    xml.insert(xml.end(), body.begin(), body.end());
    xml.insert(xml.end(), {0, 0, 0, 0, 0});
    std::copy(xml.begin(), xml.end(), bytes.begin() + chunk + x);
    EvtxFile file;
    ASSERT_TRUE(file.load(bytes));
    int broken = 0;
    EXPECT_TRUE(walk(file, &broken).empty());
    EXPECT_TRUE(broken);

    // Elements inside elements, well formed but far deeper than any event, in a record made
    // large enough to hold them.
    std::vector<uint8_t> deep = {0x0f, 1, 1, 0};
    const uint32_t name = x + 4 + 11; // defined by the first element, used by all
    for (int i = 0; i < 200; ++i) {
        std::vector<uint8_t> open = {0x01, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 0, 0};
        writeLe32(&open[7], name);
        deep.insert(deep.end(), open.begin(), open.end());
        if (i == 0)
            deep.insert(deep.end(), {0, 0, 0, 0, 0, 0, 1, 0, 'x', 0, 0, 0});
        deep.push_back(0x02);
    }
    deep.insert(deep.end(), 200, 0x04);
    deep.push_back(0x00);
    EvtRecordFields large = variedRecords(1)[0];
    large.data.assign(4000, 0);
    std::vector<uint8_t> deepBytes = buildEvtxFile({large});
    writeLe32(&deepBytes[120], 4);
    std::copy(deep.begin(), deep.end(), deepBytes.begin() + chunk + x);
    ASSERT_TRUE(file.load(deepBytes));
    EXPECT_TRUE(walk(file, &broken).empty());
    EXPECT_TRUE(broken);
}

// Batches of any size, down to one record each, walked as the threads' are walked: the file's own
// walk, both ways.
TEST(EvtxWalk, BatchesOfAnySizeGiveTheFilesOwnWalk) {
    EvtxFile file;
    ASSERT_TRUE(file.load(buildEvtxFile(variedRecords(1500))));
    const std::vector<std::vector<uint8_t>> newest = walk(file);
    for (size_t budget : {size_t(1), size_t(2000), kEvtxBatchBytes}) {
        for (int backwards : {1, 0}) {
            SCOPED_TRACE(testing::Message() << budget << " bytes, backwards " << backwards);
            EvtxDecoder decoder;
            EvtxBatch batch;
            EvtxCursor cursor;
            cursor.backwards = backwards;
            std::vector<std::vector<uint8_t>> records;
            BatchStep got = BatchStep::Exhausted;
            while (got != BatchStep::Broken && cursor.chunk.index < file.walkLength()) {
                file.decode(cursor.chunk, backwards, cursor.record, decoder, batch, budget);
                const EvtxBatch::Record* record = nullptr;
                while ((got = file.step(cursor, batch, &record)) == BatchStep::Record) {
                    const uint8_t* bytes = batch.bytes.data() + record->offset;
                    records.emplace_back(bytes, bytes + record->length);
                    EvtxFile::take(cursor, *record);
                }
            }
            EXPECT_TRUE(got == BatchStep::Exhausted);
            EXPECT_TRUE(records == (backwards ? newest
                                              : std::vector<std::vector<uint8_t>>(newest.rbegin(),
                                                                                  newest.rend())));
        }
    }
}

// Records read through the event log functions one way (short ones with shortRecords), in reads
// of buffer bytes, until a read fails or `reads` reads were made; error is the failing read's.
struct HandleReads {
    std::vector<std::vector<uint8_t>> records;
    DWORD error = ERROR_SUCCESS;
};
void readThrough(HANDLE log, int backwards, DWORD buffer, size_t reads, HandleReads& out,
                 int shortRecords = 0) {
    const DWORD flags =
        EVENTLOG_SEQUENTIAL_READ | (backwards ? EVENTLOG_BACKWARDS_READ : EVENTLOG_FORWARDS_READ);
    std::vector<uint8_t> bytes(buffer);
    for (size_t n = 0; reads == 0 || n < reads; ++n) {
        DWORD read = 0, needed = 0;
        if (!(shortRecords ? readShortEventRecords(log, flags, bytes.data(), buffer, &read, &needed)
                           : ReadEventLogW(log, flags, 0, bytes.data(), buffer, &read, &needed))) {
            out.error = GetLastError();
            return;
        }
        for (DWORD at = 0; at < read; at += readLe32(&bytes[at]))
            out.records.emplace_back(&bytes[at], &bytes[at] + readLe32(&bytes[at]));
    }
}

// The first walk of a handle is decoded ahead on a second thread: its records come in order
// whatever the buffers, a walk the other way in between takes the file over, a handle closed
// mid-walk closes, and a record that cannot be decoded ends the walk where the file's own walk
// ends.
TEST(EvtxStandIn, AWalkDecodedAheadGivesTheFilesOwnWalk) {
    Sandbox sandbox;
    const std::string path = sandbox.root() + "/eventlog/Application.evtx";
    std::vector<uint8_t> bytes = buildEvtxFile(variedRecords(8000)); // more than is read ahead
    EvtxFile file;
    ASSERT_TRUE(file.load(bytes));
    const std::vector<std::vector<uint8_t>> newest = walk(file);
    writeFile(path, std::string(bytes.begin(), bytes.end()));

    HANDLE log = OpenEventLogW(nullptr, WSTR("wsxlum"));
    ASSERT_NE(log, nullptr);
    HandleReads back, forth;
    readThrough(log, 1, 64 << 10, 3, back);
    readThrough(log, 0, 512, 0, forth); // a record or two a read
    readThrough(log, 1, 512, 0, back);
    EXPECT_TRUE(CloseEventLog(log));
    EXPECT_EQ(back.error, static_cast<DWORD>(ERROR_HANDLE_EOF));
    EXPECT_TRUE(back.records == newest);
    EXPECT_EQ(forth.error, static_cast<DWORD>(ERROR_HANDLE_EOF));
    EXPECT_TRUE(forth.records == std::vector<std::vector<uint8_t>>(newest.rbegin(), newest.rend()));

    log = OpenEventLogW(nullptr, WSTR("wsxlum"));
    ASSERT_NE(log, nullptr);
    HandleReads some;
    readThrough(log, 1, 4096, 1, some);
    EXPECT_TRUE(CloseEventLog(log)); // while the thread waits for room

    // A record that cannot be decoded in the middle of a few chunks: in a sound chunk it ends
    // the walk; in chunks that fail their checksum it ends each chunk, and the threads' batches
    // of the rest of those chunks are passed over.
    const struct {
        int checksums;
        DWORD error;
    } damages[] = {{0, ERROR_EVENTLOG_FILE_CORRUPT}, {1, ERROR_FILE_CORRUPT}};
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.checksums);
        std::vector<uint8_t> broken = bytes;
        if (!damage.checksums)
            writeLe32(&broken[120], readLe32(&broken[120]) | kEvtxFlagNoChecksums);
        for (size_t c : {3, 5, 6}) {
            const size_t at = kEvtxHeaderBlock + c * kEvtxChunkSize + kEvtxChunkHeaderSize;
            broken[at + readLe32(&broken[at + 4]) + 24] = 0x33; // the second record: no token
        }
        ASSERT_TRUE(file.load(broken));
        int ended = 0;
        const std::vector<std::vector<uint8_t>> own = walk(file, &ended);
        EXPECT_EQ(ended, !damage.checksums);
        EXPECT_LT(own.size(), newest.size());
        writeFile(path, std::string(broken.begin(), broken.end()));
        log = OpenEventLogW(nullptr, WSTR("wsxlum"));
        ASSERT_NE(log, nullptr);
        HandleReads damaged;
        readThrough(log, 1, 64 << 10, 0, damaged);
        EXPECT_TRUE(CloseEventLog(log));
        EXPECT_EQ(damaged.error, damage.error);
        EXPECT_TRUE(damaged.records == own);
    }
}

// The zero-terminated UTF-16LE text at offset (to the end when no zero unit comes).
std::u16string utf16At(const std::vector<uint8_t>& bytes, size_t offset) {
    std::u16string text;
    for (; offset + 1 < bytes.size() && readLe16(&bytes[offset]) != 0; offset += 2)
        text += static_cast<char16_t>(readLe16(&bytes[offset]));
    return text;
}

// Short records hold what the full ones hold for a reader of sessions: the event ID, the time,
// the record's number, the source and computer names and the full record's bytes from its data on,
// in sound and damaged logs alike, in reads of a record or two as of many. A handle is read one way
// only.
TEST(EvtxStandIn, ShortRecordsHoldWhatTheFullOnesDo) {
    Sandbox sandbox;
    const std::string path = sandbox.root() + "/eventlog/Application.evtx";
    std::vector<std::vector<uint8_t>> logs = {buildEvtxFile(variedRecords(3000))};
    for (const char* name : {"application-dirty.evtx", "appx-bad-chunks.evtx",
                             "live-copy-bad-checksum.evtx", "capi2-binxml-values.evtx"})
        logs.push_back(bytesOf(dataDir() + name));
    for (size_t k = 0; k < logs.size(); ++k) {
        SCOPED_TRACE(k);
        writeFile(path, std::string(logs[k].begin(), logs[k].end()));
        HANDLE whole = OpenEventLogW(nullptr, WSTR("wsxlum"));
        HANDLE brief = OpenEventLogW(nullptr, WSTR("wsxlum"));
        ASSERT_TRUE(whole && brief);
        HandleReads full, shortOnes;
        readThrough(whole, 1, 64 << 10, 0, full);
        readThrough(brief, 1, k % 2 ? 600 : 64 << 10, 0, shortOnes, 1);
        EXPECT_EQ(shortOnes.error, full.error);
        ASSERT_EQ(shortOnes.records.size(), full.records.size());
        EXPECT_GT(full.records.size(), 0u);
        for (size_t i = 0; i < full.records.size(); ++i) {
            const std::vector<uint8_t>& f = full.records[i];
            const std::vector<uint8_t>& r = shortOnes.records[i];
            const uint32_t data = readLe32(&f[52]), rest = readLe32(&r[kShortRest]);
            ASSERT_TRUE(r.size() % 4 == 0 && rest <= r.size() && data <= f.size()) << i;
            EXPECT_EQ(readLe32(&r[kShortEventId]), readLe32(&f[20])) << i;
            EXPECT_EQ(readLe32(&r[kShortTimeGenerated]), readLe32(&f[12])) << i;
            EXPECT_EQ(readLe32(&r[kShortDataOffset]), data) << i;
            EXPECT_EQ(readLe32(&r[kShortRecordNumber]), readLe32(&f[8])) << i;
            const std::u16string source = utf16At(f, kEventRecordHeaderSize);
            const size_t computerAt = kShortSource + 2 * source.size() + 2;
            const std::u16string computer =
                utf16At(f, kEventRecordHeaderSize + computerAt - kShortSource);
            EXPECT_EQ(utf16At(r, kShortSource), source) << i;
            EXPECT_EQ(utf16At(r, computerAt), computer) << i;
            EXPECT_TRUE(rest % 4 == data % 4 && rest >= computerAt + 2 * computer.size() + 2 &&
                        rest < computerAt + 2 * computer.size() + 6)
                << i;
            EXPECT_TRUE(std::equal(r.begin() + rest, r.end(), f.begin() + data, f.end())) << i;
        }
        DWORD read = 0, needed = 0;
        uint8_t buffer[1 << 10];
        EXPECT_FALSE(readShortEventRecords(whole, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ,
                                           buffer, sizeof buffer, &read, &needed));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
        EXPECT_FALSE(ReadEventLogW(brief, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0,
                                   buffer, sizeof buffer, &read, &needed));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_TRUE(CloseEventLog(whole) && CloseEventLog(brief));
    }
}

} // namespace
