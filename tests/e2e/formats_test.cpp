// The same records as a .evt and as a .evtx log: both reports print the same bytes (Linux).
#include "wsxlum/evt_record.h"
#include "formats/evt/evt_writer.h"
#include "formats/evtx/crc32.h"
#include "formats/evtx/evtx_file.h"
#include "formats/evtx/evtx_writer.h"
#include "formats/little_endian.h"
#include "support/posix/drain.h"
#include "support/support.h"

#include <cstring>
#include <functional>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string report(const std::string& root, const char* option, int status = 0,
                   std::string* errors = nullptr) {
    return runProgram(root, option, status, errors);
}

// Random users, some the same but for letter case, names outside the BMP, reused session
// numbers, logons, logoffs and reboots; a reboot last, so no session runs to the present.
std::vector<EvtRecordFields> randomLog(size_t count) {
    std::mt19937 random(20261208);
    const std::vector<std::string> domains = {"CORP", "corp", "Corp", "\xE6\x97\xA5\xE6\x9C\xAC",
                                              "\xC3\x89"
                                              "COLE"};
    const std::vector<std::string> users = {"alice",
                                            "ALICE",
                                            "bob",
                                            "\xF0\x9D\x92\x9C"
                                            "lice",
                                            "jos\xC3\xA9",
                                            "a.very.long.user.name.past.columns"};
    std::vector<EvtRecordFields> records;
    uint32_t time = 1588291200;
    for (size_t i = 0; i + 1 < count; ++i) {
        time += random() % 40; // equal times too
        uint32_t kind = random() % 50 == 0 ? 1 : 2 + random() % 2;
        uint32_t session = random() % 30;
        std::string names = "rdp#" + std::to_string(session) + "\\" +
                            domains[random() % domains.size()] + "\\" +
                            users[random() % users.size()];
        records.push_back(sessionRecord(kind, time, session, toU16(names)));
    }
    records.push_back(sessionRecord(1, time + 1));
    return records;
}

TEST(Formats, ReportsOverEvtAndEvtxAreTheSame) {
    Sandbox sandbox;
    const std::vector<EvtRecordFields> records = randomLog(100000);
    const std::string evt = sandbox.root() + "/evt", evtx = sandbox.root() + "/evtx";
    std::string error;
    ASSERT_TRUE(appendEvtRecords(evt + "/eventlog/Application.evt", records, 0x7FFFFFFF, &error))
        << error;
    ASSERT_TRUE(writeEvtxFile(evtx + "/eventlog/Application.evtx", records, &error)) << error;
    for (const char* option : {"/list", "/time"}) {
        std::string fromEvt = report(evt, option);
        EXPECT_GT(fromEvt.size(), 1000000u) << option;
        EXPECT_TRUE(fromEvt == report(evtx, option)) << option;
    }
}

// Records of damaged chunks come out of the walk's order (a chunk whose header names older
// records than it holds comes last): they are filed by their time, and the reports are the
// sound log's. A live copy's stale checksum is no damage.
TEST(Formats, ReportsOverDamagedChunksAreTheSoundLogs) {
    Sandbox sandbox;
    const std::vector<uint8_t> sound = buildEvtxFile(randomLog(20000));
    const size_t chunk1 = kEvtxHeaderBlock + kEvtxChunkSize;
    const size_t last = sound.size() - kEvtxChunkSize;
    const struct {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* errors;
    } rows[] = {
        {"chunk 2's header names older records",
         [&](std::vector<uint8_t>& b) {
             writeLe32(&b[chunk1 + 24], 1);
             writeLe32(&b[chunk1 + 32], 1);
             writeLe32(&b[chunk1 + 124],
                       crc32(&b[chunk1 + 128], kEvtxChunkHeaderSize - 128, crc32(&b[chunk1], 120)));
         },
         "vlmaudit: the event log is damaged (chunk 2 of "},
        {"a live copy",
         [&](std::vector<uint8_t>& b) {
             writeLe32(&b[120], kEvtxFlagDirty);
             b[last + 52] ^= 1;
         },
         ""},
    };
    const std::string root = sandbox.root(), log = root + "/eventlog/Application.evtx";
    writeFile(log, std::string(sound.begin(), sound.end()));
    std::vector<std::string> want;
    for (const char* option : {"/list", "/time"}) {
        want.push_back(report(root, option));
        EXPECT_GT(want.back().size(), 100000u) << option;
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<uint8_t> bytes = sound;
        row.damage(bytes);
        writeFile(log, std::string(bytes.begin(), bytes.end()));
        for (size_t k = 0; k < want.size(); ++k) {
            const char* option = k ? "/time" : "/list";
            std::string errors;
            EXPECT_TRUE(report(root, option, *row.errors ? 1 : 0, &errors) == want[k]) << option;
            EXPECT_EQ(errors.substr(0, std::strlen(row.errors)), row.errors) << option;
            EXPECT_EQ(errors.empty(), !*row.errors) << option;
        }
    }
    // A real one, copied from a running server.
    const std::string copy = "/list /file:" VLMAUDIT_TEST_DATA "/evtx/live-copy-bad-checksum.evtx";
    std::string errors;
    report(root, copy.c_str(), 0, &errors);
    EXPECT_EQ(errors, "");
}

} // namespace

namespace {

// A reader that leaves after the first line: the report ends by SIGPIPE, as cat and last do,
// and says nothing on standard error.
TEST(Formats, AReportIntoAClosedPipeEndsBySigpipeQuietly) {
    Sandbox sandbox;
    std::string error;
    ASSERT_TRUE(
        writeEvtxFile(sandbox.root() + "/eventlog/Application.evtx", randomLog(20000), &error))
        << error;
    const std::string errors = sandbox.root() + "/errors";
    for (const char* option : {"/list", "/time"}) {
        std::string command = "bash -c \"VLMAUDIT_ROOT='" + sandbox.root() +
                              "' '" VLMAUDIT_BINARY "' " + option + " 2>'" + errors +
                              "' | head -1 >/dev/null; exit \\${PIPESTATUS[0]}\"";
        int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGPIPE) << option;
        EXPECT_EQ(readFile(errors), "") << option;
    }
}

} // namespace

namespace {

// Names past 512 units keep their first 512 and an ellipsis (511 where a surrogate pair would be
// cut), in each form of each report; names of 511 and 512 units are whole. Each row is a report
// and what its output holds.
TEST(Formats, LongNamesKeepTheirFirst512UnitsInEveryForm) {
    const std::string d512(512, 'd'), u511(511, 'u'), s512(512, 's'), t512(512, 't'),
        v511(511, 'v'), more = "\xE2\x80\xA6"; // U+2026
    const std::string names = s512 + "\\" + d512 + "d\\" + u511 + "\xF0\x9F\x98\x80x";
    const std::vector<EvtRecordFields> records = {
        sessionRecord(2, 1588291210, 1, toU16(names)),
        sessionRecord(3, 1588291220, 1, toU16(names)),
        sessionRecord(2, 1588291230, 2, toU16(t512 + "t\\D\\" + v511)),
        sessionRecord(1, 1588291240)};
    const struct {
        const char* option;
        std::vector<std::string> holds;
    } rows[] = {
        {"/list", {d512 + more + "\\" + u511 + more + " " + s512 + " ", t512 + more}},
        {"/list /format:json",
         {"\"domain\": \"" + d512 + more + "\", \"user\": \"" + u511 + more +
              "\", \"session\": \"" + s512 + "\"",
          "\"user\": \"" + v511 + "\", \"session\": \"" + t512 + more + "\""}},
        {"/time /format:csv", {d512 + more + "," + u511 + more + "," + s512 + ",1,", t512 + more}},
        {"/time /daily", {"User: " + d512 + more + "\\" + u511 + more + "\n"}},
    };
    Sandbox sandbox;
    const std::string evt = sandbox.root() + "/evt", evtx = sandbox.root() + "/evtx";
    std::string error;
    ASSERT_TRUE(appendEvtRecords(evt + "/eventlog/Application.evt", records, 0x7FFFFFFF, &error))
        << error;
    ASSERT_TRUE(writeEvtxFile(evtx + "/eventlog/Application.evtx", records, &error)) << error;
    for (const std::string& root : {evt, evtx}) {
        for (const auto& row : rows) {
            const std::string out = report(root, row.option);
            for (const std::string& text : row.holds)
                EXPECT_NE(out.find(text), std::string::npos) << row.option << " in " << root;
            EXPECT_EQ(out.find(d512 + "d"), std::string::npos) << row.option << " in " << root;
            EXPECT_EQ(out.find(t512 + "t"), std::string::npos) << row.option << " in " << root;
        }
    }
}

} // namespace

namespace {

// Users of long names, more than the lines' beginnings made once for each user are kept for:
// each line of /list still begins with its own user, in text and in JSON.
TEST(Formats, EachLineOfManyLongNamesHasItsOwnUser) {
    const size_t kUsers = 3000;
    std::vector<EvtRecordFields> records;
    std::vector<std::string> names;
    for (size_t i = 0; i < kUsers; ++i) {
        std::string name = std::to_string(i);
        for (int k = 0; k < 500; ++k)
            name += "\xE6\x97\xA5"; // a CJK character, three bytes
        names.push_back(name);
        records.push_back(
            sessionRecord(2, static_cast<uint32_t>(1588291200 + i), 1, toU16("S\\D\\" + name)));
    }
    Sandbox sandbox;
    std::string error;
    ASSERT_TRUE(
        appendEvtRecords(sandbox.root() + "/eventlog/Application.evt", records, 0x7FFFFFFF, &error))
        << error;
    const struct {
        const char* option;
        std::string before, after; // around the user name in each line
    } rows[] = {{"/list", "D\\", " S "}, {"/list /format:json", "\"user\": \"", "\", "}};
    for (const auto& row : rows) {
        const std::string out = report(sandbox.root(), row.option);
        size_t lines = 0, wrong = 0;
        for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = out.substr(at, end - at);
            if (line.find("LOGON") == std::string::npos)
                continue;
            wrong += lines >= kUsers ||
                     line.find(row.before + names[lines] + row.after) == std::string::npos;
            ++lines;
        }
        EXPECT_EQ(lines, kUsers) << row.option;
        EXPECT_EQ(wrong, 0u) << row.option;
    }
}

} // namespace
