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

// A name counts the columns it is printed in: its UTF-16 units, as the reports count them, but a
// hidden character outside the BMP is one U+FFFD and counts one.
TEST(LineWriter, ANameCountsWhatIsPrinted) {
    const struct {
        WString name;
        size_t columns;
    } rows[] = {
        {WSTR("alice"), 5},
        {WSTR("a\u00FC\u5F20"), 3},
        {WSTR("a\U0001F600b"), 4}, // printed as itself, two units
        {WSTR("a\U000E0041b"), 3}, // a tag character, one U+FFFD
        {WSTR("a\U0001D173"), 2},  // a hidden musical control
        {WSTR("a\u200Bb"), 3},
        {WString{'a', static_cast<WCHAR>(0xD800), 'b'}, 3},
        {WString{static_cast<WCHAR>(0xDB40), static_cast<WCHAR>(0xDB40),
                 static_cast<WCHAR>(0xDC41)},
         2}, // a lone high surrogate, then a tag character's pair
    };
    for (const auto& row : rows) {
        EXPECT_EQ(mappedColumns(row.name.c_str()), row.columns) << utf8(row.name);
        testing::internal::CaptureStdout();
        {
            LineWriter line;
            EXPECT_EQ(line.name(row.name.c_str()), row.columns) << utf8(row.name);
            line.end();
        }
        flushOutput();
        testing::internal::GetCapturedStdout();
    }
}

} // namespace
