// Several saved logs read together, the computers of a collector's log apart, and the end a
// saved log gives the sessions still running: whole reports, byte for byte (Linux).
#include "formats/evt/evt_writer.h"
#include "formats/evtx/evtx_writer.h"
#include "support/posix/drain.h"
#include "support/support.h"
#include "wsxlum/evt_record.h"

namespace {

constexpr uint32_t kDay = 1588291200; // 05/01/20 00:00:00 UTC

struct Record {
    const char* computer;
    uint32_t kind; // 1 to 3; 0 for a record of another source
    uint32_t minutes;
    uint32_t session;
    const char* names;
    uint32_t origin = 0; // .evtx: the number on its own computer, as a collector keeps it
    int malformed = 0;   // a logon or logoff whose names do not end
};
// A log's records, numbered from first.
struct Log {
    std::vector<Record> records;
    uint32_t first = 1;
    Log(std::initializer_list<Record> r, uint32_t from = 1) : records(r), first(from) {}
};

EvtRecordFields fieldsOf(const Record& r) {
    const uint32_t time = kDay + 60 * r.minutes;
    EvtRecordFields fields =
        r.kind ? sessionRecord(r.kind, time, r.session, toU16(r.names)) : sessionRecord(0, time);
    if (!r.kind) {
        fields.source = u"EventLog";
        fields.eventId = 6013;
    }
    fields.computer = toU16(r.computer);
    fields.eventRecordId = r.origin;
    if (r.malformed)
        fields.data.back() = 1;
    return fields;
}

// The logs in both formats, as <root>/N.evt and N.evtx (their records numbered from 1).
void writeLogs(const std::string& root, const std::vector<Log>& logs) {
    for (size_t i = 0; i < logs.size(); ++i) {
        std::vector<EvtRecordFields> records;
        for (const Record& r : logs[i].records)
            records.push_back(fieldsOf(r));
        std::string error, path = root + "/" + std::to_string(i);
        ASSERT_TRUE(
            appendEvtRecords(path + ".evt", records, kDefaultEvtMaxSize, &error, logs[i].first))
            << error;
        ASSERT_TRUE(writeEvtxFile(path + ".evtx", records, &error, logs[i].first)) << error;
    }
}

struct Case {
    const char* what;
    std::vector<Log> logs;
    const char* modifiers; // after /file: for each log
    const char* expected;
    // What standard error says, each log's path as ROOT/N.EXT, and the exit status then.
    const char* errors = "";
    int status = 0;
};

const Log kServer = {{"SRV", 3, 0, 9, "rdp#9\\CORP\\zoe"},
                     {"SRV", 2, 60, 2, "rdp#2\\CORP\\bob"},
                     {"SRV", 3, 120, 2, "rdp#2\\CORP\\bob"},
                     {"SRV", 1, 180, 0, ""},
                     {"SRV", 2, 240, 3, "rdp#3\\CORP\\eve"}};
const Log kServerLater = {kServer.records[0],    kServer.records[1],
                          kServer.records[2],    kServer.records[3],
                          kServer.records[4],    {"SRV", 3, 300, 3, "rdp#3\\CORP\\eve"},
                          {"SRV", 0, 330, 0, ""}};
// A collector's log: two servers whose session numbers are the same, one of them rebooted.
const Log kCollected = {{"SRV1", 2, 60, 2, "rdp#2\\CORP\\bob"},
                        {"srv2", 2, 90, 2, "rdp#2\\CORP\\eve"},
                        {"SRV1", 1, 120, 0, ""},
                        {"SRV2", 3, 150, 2, "rdp#2\\CORP\\eve"},
                        {"SRV1", 2, 180, 2, "rdp#2\\CORP\\bob"},
                        {"SRV2", 0, 240, 0, ""}};

const Case kCases[] = {
    {"records of two logs merged by time",
     {{{"A", 2, 60, 1, "c\\CORP\\bob"}, {"A", 3, 180, 1, "c\\CORP\\bob"}},
      {{"B", 2, 120, 2, "r\\CORP\\eve"}, {"B", 1, 240, 0, ""}}},
     "/list",
     "CORP\\bob               c         LOGON      1   05/01/20 01:00:00\n"
     "CORP\\eve               r         LOGON      2   05/01/20 02:00:00\n"
     "CORP\\bob               c         LOGOFF     1   05/01/20 03:00:00\n"
     "-\\SYSTEM                         REBOOT         05/01/20 04:00:00\n"},
    {"a copy taken later gives each record once",
     {kServer, kServerLater},
     "/time",
     "User: CORP\\zoe\n"
     "   Total time=00:00:00\n\n"
     "User: CORP\\bob\n"
     "   rdp#2    2 LOGON:05/01/20 01:00:00 LOGOFF:05/01/20 02:00:00 Total:01:00:00\n"
     "   Total time=01:00:00\n\n"
     "User: CORP\\eve\n"
     "   rdp#3    3 LOGON:05/01/20 04:00:00 LOGOFF:05/01/20 05:00:00 Total:01:00:00\n"
     "   Total time=01:00:00\n\n"},
    {"archives one after another, given newest first, numbers going on",
     {Log({{"SRV", 3, 300, 3, "rdp#3\\CORP\\eve"}, {"SRV", 1, 360, 0, ""}}, 4),
      Log({{"SRV", 2, 60, 3, "rdp#3\\CORP\\eve"},
           {"SRV", 2, 120, 4, "rdp#4\\CORP\\bob"},
           {"SRV", 3, 180, 4, "rdp#4\\CORP\\bob"}})},
     "/time",
     "User: CORP\\bob\n"
     "   rdp#4    4 LOGON:05/01/20 02:00:00 LOGOFF:05/01/20 03:00:00 Total:01:00:00\n"
     "   Total time=01:00:00\n\n"
     "User: CORP\\eve\n"
     "   rdp#3    3 LOGON:05/01/20 01:00:00 LOGOFF:05/01/20 05:00:00 Total:04:00:00\n"
     "   Total time=04:00:00\n\n"},
    {"copies of a collector's log, whose numbers are those of each computer",
     {Log({{"SRV1", 2, 60, 2, "rdp#2\\CORP\\bob", 100},
           {"SRV2", 2, 61, 2, "rdp#2\\CORP\\eve", 500},
           {"SRV1", 3, 62, 2, "rdp#2\\CORP\\bob", 101},
           {"SRV2", 3, 63, 2, "rdp#2\\CORP\\eve", 501}}),
      Log({{"SRV1", 2, 60, 2, "rdp#2\\CORP\\bob", 100},
           {"SRV2", 2, 61, 2, "rdp#2\\CORP\\eve", 500},
           {"SRV1", 3, 62, 2, "rdp#2\\CORP\\bob", 101},
           {"SRV2", 3, 63, 2, "rdp#2\\CORP\\eve", 501},
           {"SRV1", 2, 64, 3, "rdp#3\\CORP\\bob", 102},
           {"SRV2", 1, 65, 0, "", 502}})},
     "/list /computer:*",
     "Computer: SRV1\n"
     "CORP\\bob               rdp#2     LOGON      2   05/01/20 01:00:00\n"
     "CORP\\bob               rdp#2     LOGOFF     2   05/01/20 01:02:00\n"
     "CORP\\bob               rdp#3     LOGON      3   05/01/20 01:04:00\n"
     "\nComputer: SRV2\n"
     "CORP\\eve               rdp#2     LOGON      2   05/01/20 01:01:00\n"
     "CORP\\eve               rdp#2     LOGOFF     2   05/01/20 01:03:00\n"
     "-\\SYSTEM                         REBOOT         05/01/20 01:05:00\n"},
    {"a copy found after its log's numbers rose: the merge is made again",
     {Log({{"SRV2", 2, 65, 2, "rdp#2\\CORP\\eve", 600},
           {"SRV1", 2, 65, 1, "rdp#1\\CORP\\bob", 101}}),
      Log({{"SRV2", 2, 65, 2, "rdp#2\\CORP\\eve", 600}})},
     "/list /computer:*",
     "Computer: SRV1\n"
     "CORP\\bob               rdp#1     LOGON      1   05/01/20 01:05:00\n"
     "\nComputer: SRV2\n"
     "CORP\\eve               rdp#2     LOGON      2   05/01/20 01:05:00\n"},
    {"copies are found in logs whose clock went back",
     {{{"A", 2, 60, 1, "c\\CORP\\bob"}, {"A", 3, 30, 1, "c\\CORP\\bob"}, {"A", 1, 90, 0, ""}},
      {{"A", 2, 60, 1, "c\\CORP\\bob"}, {"A", 3, 30, 1, "c\\CORP\\bob"}, {"A", 1, 90, 0, ""}}},
     "/list",
     "CORP\\bob               c         LOGOFF     1   05/01/20 00:30:00\n"
     "CORP\\bob               c         LOGON      1   05/01/20 01:00:00\n"
     "-\\SYSTEM                         REBOOT         05/01/20 01:30:00\n"},
    {"the same record number and time on two computers are two records",
     {{{"A", 2, 60, 1, "c\\CORP\\bob"}}, {{"B", 2, 60, 1, "c\\CORP\\bob"}}},
     "/list",
     "CORP\\bob               c         LOGON      1   05/01/20 01:00:00\n"
     "CORP\\bob               c         LOGON      1   05/01/20 01:00:00\n"},
    {"each computer apart: a reboot ends its own sessions",
     {kCollected},
     "/time /computer:*",
     "Computer: SRV1\n"
     "User: CORP\\bob\n"
     "   rdp#2    2 LOGON:05/01/20 01:00:00 REBOOT:05/01/20 02:00:00 Total:01:00:00\n"
     "   rdp#2    2 LOGON:05/01/20 03:00:00 CURTM :05/01/20 04:00:00 Total:01:00:00\n"
     "   Total time=02:00:00\n\n"
     "Computer: SRV2\n"
     "User: CORP\\eve\n"
     "   rdp#2    2 LOGON:05/01/20 01:30:00 LOGOFF:05/01/20 02:30:00 Total:01:00:00\n"
     "   Total time=01:00:00\n\n"},
    {"one computer's part, in CSV",
     {kCollected},
     "/list /computer:s?v2 /format:csv",
     "\xEF\xBB\xBF"
     "computer,time,epoch,event,domain,user,session,session_number\r\n"
     "SRV2,2020-05-01T01:30:00+00:00,1588296600,LOGON,CORP,eve,rdp#2,2\r\n"
     "SRV2,2020-05-01T02:30:00+00:00,1588300200,LOGOFF,CORP,eve,rdp#2,2\r\n"},
    {"without /computer: the log is one machine's, renamed or not",
     {{{"OLD", 2, 60, 1, "c\\CORP\\bob"}, {"NEW", 1, 120, 0, ""}, {"NEW", 0, 180, 0, ""}}},
     "/time",
     "User: CORP\\bob\n"
     "   c        1 LOGON:05/01/20 01:00:00 REBOOT:05/01/20 02:00:00 Total:01:00:00\n"
     "   Total time=01:00:00\n\n"},
    {"a session running at the end of a saved log ends at its newest record",
     {{{"A", 2, 22 * 60, 1, "c\\CORP\\bob"}}, {{"A", 0, 26 * 60, 0, ""}}},
     "/time /daily",
     "User: CORP\\bob\n"
     "   05/01/20 Total:02:00:00\n"
     "   05/02/20 Total:02:00:00\n"
     "   Total time=04:00:00\n\n"},
    {"and a window past it counts no more",
     {{{"A", 2, 22 * 60, 1, "c\\CORP\\bob"}, {"A", 0, 26 * 60, 0, ""}}},
     "/time /since:2020-05-01T23:00Z /until:2020-05-09Z",
     "Window: from 05/01/20 23:00:00 until 05/09/20 00:00:00; lengths count only the time "
     "inside it\n\n"
     "User: CORP\\bob\n"
     "   c        1 LOGON:05/01/20 22:00:00 CURTM :05/02/20 02:00:00 Total:03:00:00\n"
     "   Total time=03:00:00\n\n"},
    {"a malformed record stops its own log, and the others go on",
     {{{"A", 2, 60, 1, "c\\CORP\\bob"}, {"A", 3, 180, 1, "c\\CORP\\bob", 0, 1}},
      {{"B", 2, 120, 2, "r\\CORP\\eve"}, {"B", 1, 240, 0, ""}}},
     "/list",
     "CORP\\eve               r         LOGON      2   05/01/20 02:00:00\n"
     "-\\SYSTEM                         REBOOT         05/01/20 04:00:00\n",
     "vlmaudit: a malformed logoff record of wsxlum in ROOT/0.EXT dated 05/01/20 03:00:00 "
     "stopped the reading of that log; its older records are not shown.\n",
     1},
};

// Standard error with each log's path as ROOT/N.EXT.
std::string withoutRoot(std::string text, const std::string& root, const std::string& format) {
    for (size_t at; (at = text.find(root)) != std::string::npos;)
        text.replace(at, root.size(), "ROOT");
    for (size_t at; (at = text.find(format + " ")) != std::string::npos;)
        text.replace(at, format.size(), ".EXT");
    return text;
}

TEST(ManyLogs, Reports) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        Sandbox sandbox;
        writeLogs(sandbox.root(), c.logs);
        for (const char* format : {".evt", ".evtx"}) {
            std::string options = c.modifiers;
            for (size_t i = 0; i < c.logs.size(); ++i)
                options += " /file:" + sandbox.root() + "/" + std::to_string(i) + format;
            std::string errors;
            EXPECT_EQ(runProgram(sandbox.root(), options, c.status, &errors), c.expected) << format;
            EXPECT_EQ(withoutRoot(errors, sandbox.root(), format), c.errors) << format;
        }
    }
}

} // namespace
