// The record rules, over records built in memory (both builds).
#include "eventlog/event_kind.h"
#include "eventlog/event_log_reader.h"
#include "wsxlum/evt_record.h"
#include "formats/little_endian.h"
#include "support/support.h"

#include <cstdlib>
#include <cstring>

namespace {

class RecordParse : public testing::Test {
  protected:
    // Hands the record to the reader as readNext would.
    int take(const std::vector<uint8_t>& record) {
        uint8_t* copy = static_cast<uint8_t*>(std::malloc(record.size() ? record.size() : 1));
        if (!record.empty())
            std::memcpy(copy, record.data(), record.size());
        return reader.takeRecord(copy, static_cast<uint32_t>(record.size()));
    }
    int take(const EvtRecordFields& fields) { return take(buildEvtRecord(fields, 1)); }
    std::string name(const WCHAR* s) { return s ? toUtf8(s) : "<none>"; }

    Sandbox sandbox;
    EventLogReader reader{WSTR("wsxlum")};
};

TEST_F(RecordParse, SplitsSessionDomainAndUser) {
    std::vector<uint8_t> payload = sessionPayload(3, u"tcp#3\\DOM\\alice");
    EXPECT_EQ(readLe32(payload.data()), 40u);
    ASSERT_EQ(take(sessionRecord(Logon, 1000, 3, u"tcp#3\\DOM\\alice")), 1);
    EXPECT_EQ(reader.kind(), static_cast<uint32_t>(Logon));
    EXPECT_EQ(reader.time(), 1000u);
    EXPECT_EQ(reader.sessionId(), 3u);
    EXPECT_EQ(name(reader.sessionName()), "tcp#3");
    EXPECT_EQ(name(reader.domain()), "DOM");
    EXPECT_EQ(name(reader.userName()), "alice");

    ASSERT_EQ(take(sessionRecord(Logoff, 1, 4, u"Console\\alice")), 1);
    EXPECT_EQ(name(reader.sessionName()), "Console");
    EXPECT_EQ(name(reader.domain()), "alice");
    EXPECT_EQ(name(reader.userName()), "<none>");

    ASSERT_EQ(take(sessionRecord(Logon, 1, 5, u"a\\b\\c\\d")), 1);
    EXPECT_EQ(name(reader.userName()), "c\\d");

    ASSERT_EQ(take(sessionRecord(Logon, 1, 6, u"alone")), 1);
    EXPECT_EQ(name(reader.sessionName()), "alone");
    EXPECT_EQ(name(reader.domain()), "<none>");
}

TEST_F(RecordParse, OtherKindsCarryNoNamesAndKeepTheSessionNumber) {
    ASSERT_EQ(take(sessionRecord(Logon, 1, 7, u"s\\d\\u")), 1);
    EvtRecordFields reboot = sessionRecord(Reboot, 2);
    reboot.data = sessionPayload(99, u"x\\y\\z"); // a reboot's payload is never read
    ASSERT_EQ(take(reboot), 1);
    EXPECT_EQ(reader.kind(), static_cast<uint32_t>(Reboot));
    EXPECT_EQ(reader.sessionId(), 7u);
    EXPECT_EQ(reader.sessionName(), nullptr);
    EvtRecordFields severe = sessionRecord(Logon, 3, 8, u"s\\d\\u");
    severe.eventId = 0x40000002; // a severity bit set: not a logon
    ASSERT_EQ(take(severe), 1);
    EXPECT_EQ(reader.kind(), 0x40000002u);
    EXPECT_EQ(reader.sessionName(), nullptr);
    EXPECT_EQ(reader.sessionId(), 7u);
}

TEST_F(RecordParse, MatchesTheSourceWithoutRegardToCase) {
    EvtRecordFields fields = sessionRecord(Reboot, 5);
    fields.source = u"WsXLUM";
    EXPECT_EQ(take(fields), 1);
    fields.source = u"wsxlum2";
    EXPECT_EQ(take(fields), -1);
    fields.source = u"Application Error";
    EXPECT_EQ(take(fields), -1);
}

TEST_F(RecordParse, ASourceNameThatDoesNotEndInTheRecordIsNotTheSource) {
    std::vector<uint8_t> record(56 + 12, 0);
    const char16_t name[] = u"wsxlum";
    for (int i = 0; i < 6; ++i)
        writeLe16(&record[56 + 2 * i], name[i]);
    EXPECT_EQ(take(record), -1);
    EXPECT_EQ(take(std::vector<uint8_t>(40, 0)), -1); // shorter than the fixed header
    EXPECT_EQ(take(std::vector<uint8_t>()), -1);
}

std::vector<uint8_t> patched(std::vector<uint8_t> record, size_t at, uint32_t value) {
    if (at + 4 <= record.size())
        writeLe32(record.data() + at, value);
    return record;
}

// A logon whose payload is the last thing in the record: units of text (no terminator added),
// the size field given.
std::vector<uint8_t> tightLogon(const std::u16string& units, uint32_t size) {
    std::vector<uint8_t> payload(8);
    for (char16_t unit : units)
        payload.insert(payload.end(),
                       {static_cast<uint8_t>(unit), static_cast<uint8_t>(unit >> 8)});
    writeLe32(payload.data(), size);
    writeLe32(payload.data() + 4, 5);
    EvtRecordFields fields = sessionRecord(Logon, 1);
    fields.data = payload;
    std::vector<uint8_t> record = buildEvtRecord(fields, 1);
    record.resize(readLe32(&record[52]) + payload.size());
    return record;
}

// Each row changes one thing of a good logoff: 0 where the walk ends there, 1 with the user
// read where the record is accepted.
TEST_F(RecordParse, PayloadBounds) {
    const std::vector<uint8_t> good =
        buildEvtRecord(sessionRecord(Logoff, 9, 3, u"s\\DOM\\bob"), 1);
    const uint32_t at = readLe32(&good[52]);
    const uint32_t size = readLe32(&good[at]); // 28: eight bytes and ten units
    const uint32_t end = static_cast<uint32_t>(good.size());
    const std::vector<uint8_t> tight(good.begin(), good.begin() + at + size);
    const struct {
        const char* what;
        std::vector<uint8_t> record;
        int result;
        const char* user;
    } rows[] = {
        {"well formed", good, 1, "bob"},
        {"payload ends at the record's end", tight, 1, "bob"},
        {"odd size ending in zero bytes", patched(good, at, size - 1), 1, "bob"},
        {"odd size, tight", patched(tight, at, size - 1), 1, "bob"},
        {"odd size ending in a letter", patched(good, at, size - 3), 0, ""},
        {"odd size, no zero unit in the record", tightLogon(u"s\\d\\u\x0100", 19), 0, ""},
        {"odd size, zero unit past the size", tightLogon(std::u16string(u"s\\d\\u\x0100\0", 7), 19),
         1, "u\u0100"},
        {"no payload", patched(good, 52, 0), 0, ""},
        {"size short of the terminator", patched(good, at, size - 2), 0, ""},
        {"payload below 10 bytes", patched(good, at, 9), 0, ""},
        {"size 0", patched(good, at, 0), 0, ""},
        {"size past the record", patched(good, at, 0xFFFFFFFF), 0, ""},
        {"size reaching the record's end", patched(good, at, end), 0, ""},
        {"offset at the end", patched(good, 52, end), 0, ""},
        {"offset far outside", patched(good, 52, 0xFFFFFFF0), 0, ""},
        {"odd offset", patched(good, 52, at + 1), 0, ""},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(take(sessionRecord(Logon, 1, 42, u"s\\d\\u")), 1);
        EXPECT_EQ(take(row.record), row.result) << row.what;
        if (row.result)
            EXPECT_EQ(name(reader.userName()), row.user) << row.what;
        else
            EXPECT_EQ(reader.sessionId(), 42u) << row.what << ": a malformed record sets nothing";
    }
}

TEST_F(RecordParse, NamesStopAtTheirFirstZero) {
    std::vector<uint8_t> payload = sessionPayload(1, u"s\\d\\u");
    payload.insert(payload.end() - 2, {'x', 0, 0, 0, 'y', 0}); // text ends early; last unit 0
    writeLe32(payload.data(), static_cast<uint32_t>(payload.size()));
    EvtRecordFields fields = sessionRecord(Logon, 1);
    fields.data = payload;
    ASSERT_EQ(take(fields), 1);
    EXPECT_EQ(name(reader.userName()), "ux");
}

// Each row is one name's units and what is kept of it: names longer than 512 units keep their
// first ones and an ellipsis, and a surrogate pair is never cut in two.
TEST_F(RecordParse, LongNamesKeepTheirFirst512UnitsAndAnEllipsis) {
    const std::u16string a511(511, u'a'), pair = u"\xD83D\xDE00";
    const struct {
        const char* what;
        std::u16string name;
        std::u16string kept;
    } rows[] = {
        {"511 units", a511, a511},
        {"512 units", a511 + u"b", a511 + u"b"},
        {"513 units", a511 + u"bc", a511 + u"b\x2026"},
        {"990,000 units", std::u16string(990000, u'x'), std::u16string(512, u'x') + u"\x2026"},
        {"a pair across the cut", a511 + pair + u"z", a511 + u"\x2026"},
        {"a pair ending at the cut", a511.substr(1) + pair + u"z",
         a511.substr(1) + pair + u"\x2026"},
        {"a lone high surrogate at the cut", a511 + u"\xD83Dzz", a511 + u"\xD83D\x2026"},
    };
    for (const auto& row : rows) {
        for (int part = 0; part < 3; ++part) {
            std::u16string names[3] = {u"s", u"d", u"u"};
            names[part] = row.name;
            ASSERT_EQ(
                take(sessionRecord(Logon, 1, 2, names[0] + u"\\" + names[1] + u"\\" + names[2])), 1)
                << row.what;
            const WCHAR* read[3] = {reader.sessionName(), reader.domain(), reader.userName()};
            const size_t units[3] = {reader.sessionNameUnits(), reader.domainUnits(),
                                     reader.userNameUnits()};
            for (int i = 0; i < 3; ++i) {
                std::u16string expected = i == part ? row.kept : names[i];
                ASSERT_NE(read[i], nullptr) << row.what;
                EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(read[i])), expected)
                    << row.what << ", name " << i;
                EXPECT_EQ(units[i], expected.size()) << row.what << ", name " << i;
            }
        }
    }
}

// Each row is a record of the source with one computer name: the name and units read (none
// when the name does not end inside the record, before its data), and the record's number; of
// any kind.
TEST_F(RecordParse, ComputerAndRecordNumber) {
    auto cut = [](const std::u16string& computer) { // the record ends inside the computer name
        EvtRecordFields fields = sessionRecord(Reboot, 1);
        fields.computer = computer;
        std::vector<uint8_t> record = buildEvtRecord(fields, 9);
        record.resize(56 + 14 + 2 * computer.size());
        return record;
    };
    auto built = [](const std::u16string& computer, uint32_t kind, uint32_t number) {
        EvtRecordFields fields = sessionRecord(kind, 1, 2, u"s\\d\\u");
        fields.computer = computer;
        return buildEvtRecord(fields, number);
    };
    const std::u16string a600(600, u'a');
    const struct {
        const char* what;
        std::vector<uint8_t> record;
        int has;
        std::u16string computer;
        uint32_t number;
    } rows[] = {
        {"a reboot", built(u"SRV01", Reboot, 7), 1, u"SRV01", 7},
        {"a logon", built(u"ws-02.corp", Logon, 0xFFFFFFFF), 1, u"ws-02.corp", 0xFFFFFFFF},
        {"an empty name", built(u"", Logoff, 3), 1, u"", 3},
        {"a long name, bounded", built(a600, Logon, 4), 1, a600.substr(0, 512) + u"\x2026", 4},
        {"a name that does not end inside", cut(u"SRV01"), 0, u"", 9},
        {"a name that does not end before the data", patched(built(u"SRV01", Reboot, 5), 52, 74), 0,
         u"", 5},
        {"a name that ends where the data begins", patched(built(u"SRV01", Reboot, 6), 52, 82), 1,
         u"SRV01", 6},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(take(row.record), 1) << row.what;
        EXPECT_EQ(reader.recordNumber(), row.number) << row.what;
        EXPECT_EQ(reader.computerUnits(), row.computer.size()) << row.what;
        const char16_t* read = reinterpret_cast<const char16_t*>(reader.computer());
        ASSERT_EQ(read != nullptr, row.has) << row.what;
        if (read) {
            EXPECT_EQ(std::u16string(read), row.computer) << row.what;
        }
    }
    // A logon's names are read as ever after a long computer name.
    ASSERT_EQ(take(built(a600, Logon, 4)), 1);
    EXPECT_EQ(name(reader.userName()), "u");
}

TEST(EventLogReaderWithoutLog, ReadNextOnAnEmptyOrMissingLogReturnsZero) {
    Sandbox sandbox;
    EventLogReader reader(WSTR("wsxlum"));
    EXPECT_EQ(reader.readNext(), 0);
    reader.reopen();
    EXPECT_EQ(reader.readNext(), 0);
}

} // namespace
