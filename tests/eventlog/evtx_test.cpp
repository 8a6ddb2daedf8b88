// The .evtx stand-in against real Windows logs and its own writer, checked by independent
// readers (Linux).
#include "event_record.h"
#include "evtx_file.h"
#include "little_endian.h"
#include "support/support.h"

#include <cstdio>
#include <set>
#include <sstream>

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

// The records of the file as the stand-in gives them, newest first; decoding stops where a
// record cannot be decoded, as the walk does.
std::vector<std::string> standInLines(const std::vector<uint8_t>& bytes) {
    EvtxFile file;
    EXPECT_TRUE(file.load(bytes));
    std::vector<std::string> lines;
    std::vector<uint8_t> record;
    for (size_t i = 0; i < file.recordCount() && file.decodeRecord(i, record); ++i)
        lines.push_back(lineOf(record));
    return lines;
}

// What an oracle says, or nothing when it is not installed.
std::vector<std::string> oracleLines(const char* oracle, const std::string& path) {
    std::string command = std::string(VLMAUDIT_SOURCE_DIR) + "/tests/eventlog/evtx_oracle.py " +
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

int haveOracles() {
    return std::system("command -v evtxexport >/dev/null && /usr/bin/python3 -c 'import Evtx' "
                       "2>/dev/null") == 0;
}

TEST(EvtxRealLogs, MatchTheIndependentReaders) {
    if (!haveOracles())
        GTEST_SKIP() << "evtxexport or python3-evtx is not installed";
    const struct {
        const char* file;
        size_t records;
        std::vector<size_t> skipped; // chunks passed over
    } rows[] = {
        {"application-dirty.evtx", 195, {}},
        {"application-no-checksums.evtx", 17, {}},
        {"system-dirty.evtx", 1881, {}},
        // Chunks 0, 7 and 9 fail their data checksum (the oracles read them until a record
        // fails); 1 to 6 and 10 to 15 were never written, or were wiped.
        {"appx-bad-chunks.evtx", 129, {0, 7, 9}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        std::string path = dataDir() + row.file;
        std::vector<uint8_t> bytes = bytesOf(path);
        EvtxFile file;
        ASSERT_TRUE(file.load(bytes));
        EXPECT_EQ(file.skippedChunks(), row.skipped);
        const std::vector<std::string> all = standInLines(bytes);
        EXPECT_EQ(all.size(), row.records);
        for (const char* oracle : {"python-evtx", "evtxexport"}) {
            std::vector<std::string> ours = all, theirs = oracleLines(oracle, path);
            // python-evtx shows an empty insertion string and an empty array of them alike:
            // its count of strings is left out.
            if (std::string(oracle) == "python-evtx") {
                for (std::vector<std::string>* lines : {&ours, &theirs})
                    for (std::string& line : *lines)
                        line.erase(line.rfind('|'));
            }
            // Where a damaged chunk is passed over, the oracles read on: ours must be among
            // theirs.
            std::set<std::string> known(theirs.begin(), theirs.end());
            for (const std::string& line : ours)
                EXPECT_TRUE(known.count(line)) << oracle << " has no " << line;
            if (row.skipped.empty()) {
                EXPECT_EQ(ours, theirs) << oracle;
            }
        }
    }
}

} // namespace
