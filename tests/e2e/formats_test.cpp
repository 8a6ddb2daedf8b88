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

// What the program prints for the root, under LC_ALL=C and TZ=UTC, and its exit status, with
// its standard error in *errors where asked for.
std::string report(const std::string& root, const char* option, int status = 0,
                   std::string* errors = nullptr) {
    const std::string errorFile = root + "/errors";
    std::string command = "LC_ALL=C TZ=UTC VLMAUDIT_ROOT='" + root + "' '" VLMAUDIT_BINARY "' " +
                          option + " 2>'" + errorFile + "'";
    FILE* p = popen(command.c_str(), "r");
    std::string out = p ? drain(dup(fileno(p))) : "";
    const int ended = p ? pclose(p) : -1;
    EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == status) << option;
    if (errors)
        *errors = readFile(errorFile);
    return out;
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
