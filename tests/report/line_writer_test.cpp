// Lines written into standard output's buffer in place (both builds).
#include "report/line_writer.h"
#include "report/machine_text.h"
#include "report/report_text.h"
#include "support/support.h"

namespace {

// A name of units units, with characters past ASCII, surrogate pairs and hidden units all along.
WString nameOf(size_t units) {
    const WCHAR kPattern[] = WSTR("ab\u00FCc\U0001F600d\u200Be");
    WString name;
    while (name.size() < units)
        name += kPattern;
    name.resize(units);
    return name;
}

// Standard output of a report's line after gathered bytes of an unfinished line, the line put
// together by a LineWriter or by printOut.
std::string written(size_t gathered, const WString& name, int inPlace) {
    LocalClock clock;
    DurationFormat duration;
    std::string before(gathered, 'b');
    testing::internal::CaptureStdout();
    printOut("%s", before.c_str());
    if (inPlace) {
        LineWriter line;
        line.ascii(" <", 2);
        line.name(name.c_str());
        line.spaces(5);
        line.number(-42, 6);
        line.ascii("> ", 2);
        line.dateTime(1000000000, clock);
        line.duration(100000, duration);
        line.csv(name.c_str());
        line.json(name.c_str());
        line.json(nullptr);
        line.newline();
        line.isoTime(1000000000, clock);
        line.endCsv();
    } else {
        WCHAR text[kDurationUnits];
        formatDuration(text, 100000, duration);
        char iso[kIsoTimeBytes];
        isoTime(clock, 1000000000, iso);
        printOut(" <%S     %6d> %P%S%C%J%J\n%s%s", name.c_str(), -42,
                 ConsoleDateTime(1000000000, clock).text(), text, name.c_str(), name.c_str(),
                 nullptr, iso, kCsvLineEnd);
    }
    flushOutput();
    return testing::internal::GetCapturedStdout();
}

// Whatever the buffer holds already: near its end what it holds is handed over before a piece
// that does not fit, and a name longer than the buffer is cut between characters.
TEST(LineWriter, WritesWhatPrintOutWrites) {
    const struct {
        size_t gathered; // bytes of an unfinished line in the buffer first
        size_t units;    // of the name
    } rows[] = {{0, 5},         {65536 - 200, 9},   {65536 - 40, 9},
                {65536 - 3, 9}, {65536 - 3, 70000}, {0, 70000}};
    for (const auto& row : rows) {
        WString name = nameOf(row.units);
        std::string inPlace = written(row.gathered, name, 1);
        EXPECT_EQ(inPlace, written(row.gathered, name, 0)) << row.gathered << " " << row.units;
        EXPECT_GT(inPlace.size(), row.gathered + row.units);
    }
}

} // namespace
