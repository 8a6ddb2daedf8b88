// The reader over .evt files written by the project's writer (Linux stand-in).
#include "eventlog/event_kind.h"
#include "eventlog/event_log_reader.h"
#include "formats/evt/evt_file.h"
#include "formats/evt/evt_writer.h"
#include "formats/evtx/evtx_writer.h"
#include "formats/little_endian.h"
#include "support/support.h"
#include "wsxlum/evt_record.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

EvtRecordFields foreign(uint32_t time, const std::u16string& source = u"Application Error") {
    EvtRecordFields fields;
    fields.source = source;
    fields.eventId = 1000;
    fields.timeGenerated = time;
    fields.data = {1, 2, 3};
    return fields;
}

class EvtStandIn : public testing::Test {
  protected:
    std::string logPath(const std::string& log = "Application") const {
        return sandbox.root() + "/eventlog/" + log + ".evt";
    }
    void append(const std::vector<EvtRecordFields>& records, uint32_t maxSize = kDefaultEvtMaxSize,
                const std::string& log = "Application") {
        std::string error;
        ASSERT_TRUE(appendEvtRecords(logPath(log), records, maxSize, &error)) << error;
    }
    // The times of every record the reader yields in one walk.
    std::vector<uint32_t> walk(EventLogReader& reader) {
        std::vector<uint32_t> times;
        reader.reopen();
        while (reader.readNext())
            times.push_back(reader.time());
        return times;
    }
    std::vector<uint32_t> walk() {
        EventLogReader reader(WSTR("wsxlum"));
        return walk(reader);
    }
    Sandbox sandbox;
};

TEST_F(EvtStandIn, WalksTheSourceNewestFirstSkippingOthers) {
    append({sessionRecord(Logon, 100, 3, u"tcp#3\\DOM\\alice"), foreign(150),
            sessionRecord(Reboot, 200), foreign(250, u"WSXLUM"),
            sessionRecord(Logoff, 300, 3, u"tcp#3\\DOM\\alice")});
    EventLogReader reader(WSTR("wsxlum"));
    ASSERT_EQ(reader.readNext(), 1); // construction opened the log
    EXPECT_EQ(reader.kind(), static_cast<uint32_t>(Logoff));
    EXPECT_EQ(toUtf8(reader.userName()), "alice");
    EXPECT_EQ(walk(reader), (std::vector<uint32_t>{300, 250, 200, 100}));
    EXPECT_EQ(reader.readNext(), 0); // stays at the end
    EXPECT_EQ(walk(reader), (std::vector<uint32_t>{300, 250, 200, 100}));
}

// The reader takes many records a read; one larger than a read's buffer still comes whole,
// and so do the usual ones around it.
TEST_F(EvtStandIn, RecordsOfAnySizeComeWholeBetweenUsualOnes) {
    EvtRecordFields large = foreign(200);
    large.data.assign(300000, 7);
    std::u16string longName = u"tcp#1\\DOM\\" + std::u16string(50000, u'x');
    std::vector<EvtRecordFields> records = {sessionRecord(Reboot, 100), large,
                                            sessionRecord(Logon, 300, 1, longName)};
    for (uint32_t t = 400; t < 3400; ++t)
        records.push_back(sessionRecord(Reboot, t));
    append(records, 64u << 20);
    EventLogReader reader(WSTR("wsxlum"));
    std::vector<uint32_t> times = walk(reader);
    ASSERT_EQ(times.size(), 3002u);
    EXPECT_EQ(times[0], 3399u);
    EXPECT_EQ(times[3000], 300u);
    EXPECT_EQ(times[3001], 100u);
    reader.reopen();
    for (uint32_t t = 0; t <= 3000; ++t)
        ASSERT_EQ(reader.readNext(), 1);
    // Read to its terminator, and kept as its first 512 units and an ellipsis.
    EXPECT_EQ(toUtf8(reader.userName()), std::string(512, 'x') + "\xE2\x80\xA6");
}

TEST_F(EvtStandIn, ALogOfOtherSourcesYieldsNothing) {
    append({foreign(1), foreign(2), foreign(3)});
    EXPECT_TRUE(walk().empty());
}

TEST_F(EvtStandIn, AMalformedLogonEndsTheWalkThere) {
    EvtRecordFields bad = sessionRecord(Logon, 200, 1, u"s\\d\\u");
    writeLe32(bad.data.data(), static_cast<uint32_t>(bad.data.size() - 2));
    append({sessionRecord(Reboot, 100), bad, sessionRecord(Reboot, 300)});
    EXPECT_EQ(walk(), (std::vector<uint32_t>{300}));
    append({bad});
    EXPECT_TRUE(walk().empty()); // the newest is malformed
}

TEST_F(EvtStandIn, ReadResultsFollowTheWindowsContract) {
    append({sessionRecord(Reboot, 1), foreign(2)});
    HANDLE log = OpenEventLogW(nullptr, WSTR("wsxlum"));
    ASSERT_NE(log, nullptr);
    uint8_t buf[512];
    DWORD read = 0xdeadbeef, needed = 0xdeadbeef;
    const DWORD back = EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ;
    EXPECT_FALSE(ReadEventLogW(log, back, 0, buf, 0, &read, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    const uint32_t newest = static_cast<uint32_t>(buildEvtRecord(foreign(2), 2).size());
    EXPECT_EQ(needed, newest);
    EXPECT_EQ(read, 0u);
    EXPECT_FALSE(ReadEventLogW(log, back, 0, buf, needed - 1, &read, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    // A large buffer takes every whole record that fits.
    ASSERT_TRUE(ReadEventLogW(log, back, 0, buf, sizeof buf, &read, &needed));
    EXPECT_EQ(read, newest + buildEvtRecord(sessionRecord(Reboot, 1), 1).size());
    EXPECT_EQ(readLe32(buf + 12), 2u);
    EXPECT_EQ(readLe32(buf + newest + 12), 1u);
    EXPECT_FALSE(ReadEventLogW(log, back, 0, buf, sizeof buf, &read, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
    EXPECT_FALSE(ReadEventLogW(log, EVENTLOG_SEEK_READ | EVENTLOG_BACKWARDS_READ, 1, buf,
                               sizeof buf, &read, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // Oldest first on request.
    ASSERT_TRUE(ReadEventLogW(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buf,
                              newest + 8, &read, &needed));
    EXPECT_EQ(readLe32(buf + 12), 1u);
    EXPECT_TRUE(CloseEventLog(log));
}

TEST_F(EvtStandIn, AWrappedLogReadsItsNewestWholeRecords) {
    std::vector<EvtRecordFields> records;
    for (uint32_t i = 1; i <= 2000; ++i)
        records.push_back(sessionRecord(Logon, i, i % 5, u"rdp#1\\DOM\\user"));
    append(records, 0x10000);
    std::vector<uint8_t> bytes = readBytes(logPath());
    EXPECT_LE(bytes.size(), 0x10000u);
    EXPECT_TRUE(readLe32(&bytes[36]) & kEvtFlagWrap);
    std::vector<uint32_t> times = walk();
    ASSERT_GT(times.size(), 300u);
    for (size_t i = 0; i < times.size(); ++i)
        ASSERT_EQ(times[i], 2000 - i);
    // The next append goes on wrapping, one record at a time.
    for (uint32_t i = 2001; i <= 2100; ++i)
        append({sessionRecord(Logoff, i, 1, u"rdp#1\\DOM\\user")}, 0x10000);
    std::vector<uint32_t> later = walk();
    EXPECT_EQ(later.front(), 2100u);
    EXPECT_EQ(later.size(), times.size());
}

// A wrapped log of many megabytes, some of its records each larger than a read of the file:
// the walk reads on part after part and across the wrap, and gives every record whole, as
// the file read at once does.
TEST_F(EvtStandIn, AWrappedLogOfManyReadsGivesEveryRecordWhole) {
    std::vector<EvtRecordFields> records;
    for (uint32_t i = 1; i <= 40000; ++i) {
        records.push_back(i % 10000 ? sessionRecord(Logon, i, i % 5, u"rdp#1\\DOM\\user")
                                    : foreign(i));
        if (i % 10000 == 0)
            records.back().data.assign(1500000, 7);
    }
    append(records, 6u << 20);
    std::vector<uint8_t> bytes = readBytes(logPath());
    ASSERT_TRUE(readLe32(&bytes[36]) & kEvtFlagWrap);
    EvtFile whole;
    ASSERT_TRUE(whole.load(bytes));
    HANDLE log = OpenEventLogW(nullptr, WSTR("wsxlum"));
    ASSERT_NE(log, nullptr);
    std::vector<uint8_t> buf(2u << 20), record;
    DWORD read, needed;
    size_t i = 0;
    while (ReadEventLogW(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0, buf.data(),
                         static_cast<DWORD>(buf.size()), &read, &needed)) {
        for (DWORD at = 0; at < read; at += static_cast<DWORD>(record.size()), ++i) {
            ASSERT_LT(i, whole.recordCount());
            record.resize(whole.recordLength(i));
            whole.copyRecord(i, record.data());
            ASSERT_TRUE(std::equal(record.begin(), record.end(), buf.begin() + at)) << i;
        }
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
    EXPECT_EQ(i, whole.recordCount());
    EXPECT_GE(i, 20000u);
    CloseEventLog(log);
}

TEST_F(EvtStandIn, ADirtyHeaderWithStaleOffsetsFindsTheTrueEnd) {
    append({sessionRecord(Reboot, 1), sessionRecord(Reboot, 2)});
    std::vector<uint8_t> stale = readBytes(logPath());
    append({sessionRecord(Reboot, 3), sessionRecord(Reboot, 4)});
    std::vector<uint8_t> bytes = readBytes(logPath());
    std::copy(stale.begin(), stale.begin() + 48, bytes.begin()); // the header of two appends ago
    writeLe32(&bytes[36], readLe32(&bytes[36]) | kEvtFlagDirty);
    writeBytes(logPath(), bytes);
    EXPECT_EQ(walk(), (std::vector<uint32_t>{4, 3, 2, 1}));
    // Even a header pointing nowhere useful: the end-of-file record is found by its markers.
    writeLe32(&bytes[20], 0x34);
    writeBytes(logPath(), bytes);
    EXPECT_EQ(walk(), (std::vector<uint32_t>{4, 3, 2, 1}));
}

TEST_F(EvtStandIn, ACorruptRecordEndsTheWalkWithTheCorruptCode) {
    append({sessionRecord(Reboot, 1), sessionRecord(Reboot, 2), sessionRecord(Reboot, 3)});
    std::vector<uint8_t> bytes = readBytes(logPath());
    EvtFile file;
    std::vector<uint8_t> copy = bytes;
    ASSERT_TRUE(file.load(copy));
    uint32_t middle = file.recordOffset(1), length = file.recordLength(1);
    for (uint32_t field : {middle + length - 4, middle, middle + 4}) {
        std::vector<uint8_t> broken = bytes;
        writeLe32(&broken[field], 0x7FFFFFF0); // a length of gigabytes, or a bad signature
        writeBytes(logPath(), broken);
        EXPECT_EQ(walk(), (std::vector<uint32_t>{3})) << field;
        HANDLE log = OpenEventLogW(nullptr, WSTR("wsxlum"));
        uint8_t buf[256];
        DWORD read, needed;
        const DWORD back = EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ;
        EXPECT_TRUE(ReadEventLogW(log, back, 0, buf, sizeof buf, &read, &needed));
        EXPECT_FALSE(ReadEventLogW(log, back, 0, buf, sizeof buf, &read, &needed));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_EVENTLOG_FILE_CORRUPT));
        CloseEventLog(log);
    }
}

TEST_F(EvtStandIn, TruncatedOrForeignFilesYieldNothing) {
    append({sessionRecord(Reboot, 1), sessionRecord(Reboot, 2), sessionRecord(Reboot, 3)});
    std::vector<uint8_t> bytes = readBytes(logPath());
    for (size_t cut : {bytes.size() - 1, bytes.size() - 41, size_t(100), size_t(47), size_t(1)}) {
        writeBytes(logPath(), std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
        EXPECT_TRUE(walk().empty()) << cut;
    }
    writeBytes(logPath(), std::vector<uint8_t>(4096, 'x'));
    EXPECT_EQ(OpenEventLogW(nullptr, WSTR("wsxlum")), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_EVENTLOG_FILE_CORRUPT));
    unlink(logPath().c_str());
    mkdir(logPath().c_str(), 0755); // not a file at all
    EXPECT_EQ(OpenEventLogW(nullptr, WSTR("wsxlum")), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(walk().empty());
}

TEST_F(EvtStandIn, TheSourceIsReadFromTheLogItIsRegisteredIn) {
    append({sessionRecord(Reboot, 7)}, kDefaultEvtMaxSize, "System");
    EXPECT_TRUE(walk().empty());
    ASSERT_EQ(createKey(WSTR("System\\CurrentControlSet\\Services\\EventLog\\System\\WSXLUM")),
              ERROR_SUCCESS);
    EXPECT_EQ(walk(), (std::vector<uint32_t>{7}));
}

// A writer that comes while a walk is under way waits for the walk's handle to close.
TEST_F(EvtStandIn, AWalkReadsOneSnapshotAndTheNextOpenSeesMore) {
    append({sessionRecord(Reboot, 1), sessionRecord(Reboot, 2)});
    std::vector<uint32_t> first;
    {
        EventLogReader reader(WSTR("wsxlum"));
        ASSERT_EQ(reader.readNext(), 1);
        first.push_back(reader.time());
        // Another process (a fork alone would share the lock of the reader's descriptor).
        FILE* writer = popen((EVTUTIL_BINARY " reboot '" + logPath() + "' 3").c_str(), "r");
        ASSERT_NE(writer, nullptr);
        usleep(100000); // the writer is at the lock by now
        while (reader.readNext())
            first.push_back(reader.time());
        reader.reopen(); // the handle, and its lock, are gone: the writer goes on
        EXPECT_EQ(pclose(writer), 0);
        EXPECT_EQ(walk(reader), (std::vector<uint32_t>{3, 2, 1}));
    }
    EXPECT_EQ(first, (std::vector<uint32_t>{2, 1}));
}

// Junk, and a readable log one byte longer than whole 4-byte units (a record that wrapped in
// it would land off the boundaries readers look at).
TEST_F(EvtStandIn, TheWriterLeavesAnUnreadableLogAlone) {
    append({sessionRecord(Reboot, 1)});
    std::vector<uint8_t> oddSized = readBytes(logPath());
    oddSized.push_back(0);
    for (const std::vector<uint8_t>& bytes : {std::vector<uint8_t>(4096, 'x'), oddSized}) {
        writeBytes(logPath(), bytes);
        ASSERT_EQ(readBytes(logPath()), bytes);
        std::string error;
        EXPECT_FALSE(appendEvtRecords(logPath(), {sessionRecord(Reboot, 2)}, 0x10000, &error));
        EXPECT_NE(error.find("left as it is"), std::string::npos);
        EXPECT_EQ(readBytes(logPath()), bytes);
    }
    EXPECT_EQ(walk(), (std::vector<uint32_t>{1})); // the odd-sized log still reads
}

class RealXpLog : public EvtStandIn {
  protected:
    void SetUp() override {
        std::string source = std::string(VLMAUDIT_TEST_DATA) + "/xp-AppEvent.Evt";
        xp = readBytes(source);
        ASSERT_EQ(xp.size(), 65536u) << source;
        mkdir((sandbox.root() + "/eventlog").c_str(), 0755);
        writeBytes(logPath(), xp);
    }
    std::vector<uint8_t> xp;
};

TEST_F(RealXpLog, WalksAll121RecordsNewestFirst) {
    ASSERT_EQ(xp.size(), 65536u);
    EXPECT_TRUE(readLe32(&xp[36]) & kEvtFlagDirty);
    HANDLE log = OpenEventLogW(nullptr, WSTR("Application"));
    ASSERT_NE(log, nullptr);
    std::vector<uint32_t> numbers, times;
    std::vector<uint8_t> buf(0x10000);
    DWORD read, needed;
    while (ReadEventLogW(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0, buf.data(),
                         static_cast<DWORD>(buf.size()), &read, &needed)) {
        for (DWORD at = 0; at < read; at += readLe32(&buf[at])) {
            numbers.push_back(readLe32(&buf[at + 8]));
            times.push_back(readLe32(&buf[at + 12]));
        }
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
    CloseEventLog(log);
    ASSERT_EQ(numbers.size(), 121u);
    for (size_t i = 0; i < numbers.size(); ++i)
        EXPECT_EQ(numbers[i], 121 - i);
    EXPECT_EQ(times.front(), 1588229476u); // 2020-04-30 06:51:16 UTC
    EXPECT_EQ(times.back(), 1587871188u);  // 2020-04-26 03:19:48 UTC
    EXPECT_TRUE(walk().empty());           // no wsxlum records in it
}

TEST_F(RealXpLog, ACopyWithAppendedRecordsStillReads) {
    append({sessionRecord(Logon, 1588300000, 3, u"tcp#3\\DOM\\alice"),
            sessionRecord(Logoff, 1588303725, 3, u"tcp#3\\DOM\\alice")});
    EXPECT_EQ(walk(), (std::vector<uint32_t>{1588303725, 1588300000}));
    EvtFile file;
    ASSERT_TRUE(file.load(readBytes(logPath())));
    EXPECT_EQ(file.recordCount(), 123u);
    EXPECT_FALSE(file.corrupt());
    if (system("command -v evtexport >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "evtexport (libevt-utils) is not installed";
    std::string command = "evtexport " + logPath() + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, n);
    EXPECT_EQ(pclose(pipe), 0);
    size_t events = 0;
    for (size_t at = out.find("Event number"); at != std::string::npos;
         at = out.find("Event number", at + 1))
        ++events;
    EXPECT_EQ(events, 123u);
    size_t last = out.find("Event number\t\t\t: 123");
    ASSERT_NE(last, std::string::npos);
    EXPECT_NE(out.find("Source name\t\t\t: wsxlum", last), std::string::npos);
    EXPECT_NE(out.find("Event identifier\t\t: 0x00000003 (3)", last), std::string::npos);
    EXPECT_NE(out.find("Creation time\t\t\t: May 01, 2020 03:28:45 UTC", last), std::string::npos);
}

// What a reader takes from each record of a walk, and how the walk ended: the records it met
// of every source, and the oldest and newest of their times.
std::string readerView(const std::string& path) {
    const WString file = utf8ToUtf16(path);
    EventLogReader reader(WSTR("wsxlum"), file.c_str());
    std::string seen;
    auto text = [](const WCHAR* s) { return s ? utf8(WString(s)) : std::string("<none>"); };
    while (reader.readNext())
        seen += std::to_string(reader.kind()) + " " + std::to_string(reader.time()) + " " +
                std::to_string(reader.sessionId()) + " " + text(reader.sessionName()) + "|" +
                text(reader.domain()) + "|" + text(reader.userName()) + " #" +
                std::to_string(reader.recordNumber()) + " @" +
                text(reader.computer()).substr(0, 12) + " " +
                std::to_string(reader.computerUnits()) + "\n";
    return seen + "end " + std::to_string(reader.walkEnd()) + " " + std::to_string(reader.kind()) +
           " " + std::to_string(reader.time()) + " met " + std::to_string(reader.recordsMet()) +
           " " + std::to_string(reader.oldestMet()) + " " + std::to_string(reader.newestMet());
}

// A .evtx log is read as the same records in a .evt log are, payloads at the edges of their
// records too: data cut short of the names' zero unit, sizes that reach into the padding and the
// length after the data, with SIDs before it or none; computer names empty, long or not; records
// of another source, the oldest, counted with the rest.
TEST(EvtAndEvtx, TheReaderTakesTheSameFromBoth) {
    Sandbox sandbox;
    const std::string evt = sandbox.root() + "/log.evt", evtx = sandbox.root() + "/log.evtx";
    const std::vector<uint8_t> whole = sessionPayload(7, u"rdp#1\\CORP\\alice");
    const std::u16string computers[] = {u"SRV01", u"", std::u16string(600, u'c')};
    size_t accepted = 0, cases = 0;
    for (size_t sid : {0, 12, 16})
        for (size_t drop : {0, 1, 2, 3, 5})
            for (int more : {-2, 0, 1, 2, 3, 4, 6, 8}) {
                EvtRecordFields record = sessionRecord(Logon, 1000, 7);
                record.data.assign(whole.begin(), whole.end() - static_cast<long>(drop));
                writeLe32(record.data.data(), static_cast<uint32_t>(record.data.size() + more));
                record.userSid.assign(sid, 1);
                record.computer = computers[(drop + sid) % 3];
                EvtRecordFields other = sessionRecord(Reboot, 800);
                other.source = u"Other";
                const std::vector<EvtRecordFields> log = {other, sessionRecord(Reboot, 900),
                                                          record};
                std::remove(evt.c_str());
                std::remove(evtx.c_str());
                std::string error;
                ASSERT_TRUE(appendEvtRecords(evt, log, kDefaultEvtMaxSize, &error)) << error;
                ASSERT_TRUE(writeEvtxFile(evtx, log, &error)) << error;
                const std::string seen = readerView(evt);
                EXPECT_EQ(readerView(evtx), seen) << sid << " " << drop << " " << more;
                const size_t units[] = {5, 0, 513}; // a long name bounded as the users' are
                const std::string mine =
                    " #3 @" +
                    utf8(WString(record.computer.begin(), record.computer.end())).substr(0, 12) +
                    " " + std::to_string(units[(drop + sid) % 3]) + "\n";
                const int taken = seen.find("alice") != std::string::npos;
                if (taken) {
                    EXPECT_NE(seen.find(mine), std::string::npos) << seen;
                    EXPECT_NE(seen.find(" #2 @VLMHOST 7\n"), std::string::npos) << seen;
                    EXPECT_NE(seen.find("met 3 800 1000"), std::string::npos) << seen;
                }
                accepted += taken;
                ++cases;
            }
    EXPECT_GT(accepted, 0u); // both ways: some records are taken, others end the walk
    EXPECT_LT(accepted, cases);
}

} // namespace
