// Durations with any picture and separator (the locale-independent part, both builds).
#include "report/time_text.h"
#include "support/support.h"

#include <cstdlib>

namespace {

std::string duration(uint32_t seconds, const WCHAR* picture = WSTR("H:mm:ss"),
                     const WCHAR* separator = WSTR(":")) {
    WCHAR out[kDurationUnits];
    for (WCHAR& c : out)
        c = 0xdd;
    formatDurationWith(out, seconds, picture, separator);
    return toUtf8(out);
}

TEST(FormatDuration, CountsHoursPastADay) {
    EXPECT_EQ(duration(0), "00:00:00");
    EXPECT_EQ(duration(59), "00:00:59");
    EXPECT_EQ(duration(60), "00:01:00");
    EXPECT_EQ(duration(3725), "01:02:05");
    EXPECT_EQ(duration(86399), "23:59:59");
    EXPECT_EQ(duration(86400), "24:00:00");
    EXPECT_EQ(duration(100000), "27:46:40");
    EXPECT_EQ(duration(360000), "100:00:00");
    EXPECT_EQ(duration(0xFFFFFFFFu), "1193046:28:15");
}

TEST(FormatDuration, FollowsTheFieldOrderOfThePicture) {
    EXPECT_EQ(duration(100000, WSTR("ss.mm.HH"), WSTR(".")), "40.46.27");
    EXPECT_EQ(duration(3725, WSTR("HH:mm:ss")), "01:02:05");
    EXPECT_EQ(duration(3725, WSTR("hH:mm:ss")), "01:02:05");
    EXPECT_EQ(duration(3725, WSTR("h:mm:ss tt")), "01:02:05");
    EXPECT_EQ(duration(3725, WSTR("tt hh:mm:ss")), "01:02:05");
    EXPECT_EQ(duration(3725, WSTR("HHH:mm")), "01:01:02");
    EXPECT_EQ(duration(3725, WSTR("HH'h'mm")), "01:01:02");
    EXPECT_EQ(duration(3725, WSTR("H:m:s:H")), "01:02:05");
    EXPECT_EQ(duration(3725, WSTR("Mm")), "02:00:00"); // fewer fields: empty slots print 00
    EXPECT_EQ(duration(3725, WSTR("")), "00:00:00");
}

TEST(FormatDuration, UsesTheSeparatorGivenNotThePictures) {
    EXPECT_EQ(duration(3725, WSTR("H.mm.ss"), WSTR(":")), "01:02:05");
    EXPECT_EQ(duration(3725, WSTR("H:mm:ss"), WSTR("123456789")), "01123456789021234567890"
                                                                  "5");
}

} // namespace

namespace {

// The text written in place is the text formatDateTime gives, and a buffer one unit too short
// for it (the terminator included) is refused rather than cut.
TEST(FormatDateTime, WritesInPlaceOnlyWhatFitsWhole) {
    for (uint32_t seconds : {0u, 1000000000u, 0xFFFFFFFFu}) {
        WCHAR* whole = formatDateTime(seconds, WSTR(" - "), 1);
        ASSERT_NE(whole, nullptr);
        size_t units = wcslen(whole) + 1;
        std::vector<WCHAR> out(units + 1, WCHAR('#'));
        EXPECT_EQ(formatDateTimeInto(out.data(), units, seconds, WSTR(" - "), 1), 1);
        EXPECT_EQ(toUtf8(out.data()), toUtf8(whole));
        EXPECT_EQ(out[units], WCHAR('#')); // nothing past the room given
        EXPECT_EQ(formatDateTimeInto(out.data(), units - 1, seconds, WSTR(" - "), 1), 0);
        std::free(whole);
    }
}

} // namespace
