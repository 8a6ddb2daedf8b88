// Dates and times from the C library's locale and TZ (Linux).
#include "report/report_text.h"
#include "report/time_text.h"
#include "support/support.h"
#include "time_format.h"

#include <clocale>
#include <cstdlib>
#include <ctime>

namespace {

class TimeText : public testing::Test {
  protected:
    void TearDown() override { use("C", "UTC"); }
    // 0 when the locale is not installed here.
    int use(const char* locale, const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
        return std::setlocale(LC_ALL, locale) != nullptr;
    }
};

TEST_F(TimeText, CLocale) {
    ASSERT_TRUE(use("C", "UTC"));
    EXPECT_EQ(dateTimeText(1000000000), "09/09/01 01:46:40");
    EXPECT_EQ(dateTimeText(0), "01/01/70 00:00:00");
    EXPECT_EQ(dateTimeText(0xFFFFFFFFu), "02/07/06 06:28:15");
    EXPECT_EQ(durationText(100000), "27:46:40");
    WCHAR separator[10];
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 10), 2);
    EXPECT_EQ(toUtf8(separator), ":");
}

TEST_F(TimeText, GermanAndAmericanLocales) {
    if (!use("de_DE.UTF-8", "UTC"))
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    EXPECT_EQ(dateTimeText(1000000000), "09.09.2001 01:46:40");
    EXPECT_EQ(durationText(3725), "01:02:05");
    if (!use("en_US.UTF-8", "UTC"))
        GTEST_SKIP() << "en_US.UTF-8 is not installed";
    EXPECT_EQ(dateTimeText(1000000000 + 13 * 3600), "09/09/2001 14:46:40"); // 24-hour, no PM
    EXPECT_EQ(durationText(3725), "01:02:05");
}

// Formats with multibyte text convert from the locale's encoding, not byte by byte.
TEST_F(TimeText, EastAsianLocales) {
    const struct {
        const char* locale;
        const char* dateTime;
        const char* duration;
    } rows[] = {
        {"ja_JP.UTF-8", "2001年09月09日 01時46分40秒", "27:46:40"},
        {"ko_KR.UTF-8", "2001년 09월 09일 01시 46분 40초", "27:46:40"},
        {"zh_CN.UTF-8", "2001年09月09日 01时46分40秒", "27:46:40"},
    };
    int tried = 0;
    for (const auto& row : rows) {
        if (!use(row.locale, "UTC"))
            continue;
        ++tried;
        EXPECT_EQ(dateTimeText(1000000000), row.dateTime) << row.locale;
        EXPECT_EQ(durationText(100000), row.duration) << row.locale;
    }
    if (tried < 3)
        GTEST_SKIP() << 3 - tried << " of the locales are not installed (locale-gen)";
}

TEST_F(TimeText, LocalTimeFollowsTheRulesOfEachDate) {
    ASSERT_TRUE(use("C", "Europe/Berlin"));
    if (dateTimeText(0) != "01/01/70 01:00:00")
        GTEST_SKIP() << "no time zone data for Europe/Berlin";
    EXPECT_EQ(dateTimeText(1593561600), "07/01/20 02:00:00"); // summer time
    EXPECT_EQ(dateTimeText(1606780800), "12/01/20 01:00:00");
}

// Offsets change to the second, even inside a minute (Monrovia moved from -0:44:30 to GMT at
// 00:44:30 UT), and a change of TZ is seen at once.
TEST_F(TimeText, AChangeOfOffsetIsSeenToTheSecond) {
    ASSERT_TRUE(use("C", "Africa/Monrovia"));
    if (dateTimeText(0) != "12/31/69 23:15:30")
        GTEST_SKIP() << "no time zone data for Africa/Monrovia";
    const struct {
        uint32_t seconds;
        const char* text;
    } rows[] = {{63593040, "01/06/72 23:59:30"}, {63593069, "01/06/72 23:59:59"},
                {63593070, "01/07/72 00:44:30"}, {63593099, "01/07/72 00:44:59"},
                {63593100, "01/07/72 00:45:00"}, {63593069, "01/06/72 23:59:59"}};
    for (const auto& row : rows)
        EXPECT_EQ(dateTimeText(row.seconds), row.text) << row.seconds;
    ASSERT_TRUE(use("C", "Europe/Berlin"));
    EXPECT_EQ(dateTimeText(1585443599), "03/29/20 01:59:59");
    EXPECT_EQ(dateTimeText(1585443600), "03/29/20 03:00:00");
    ASSERT_TRUE(use("C", "UTC"));
    EXPECT_EQ(dateTimeText(1585443600), "03/29/20 01:00:00");
}

// A report's clock gives the C library's local time and date at every second, in any order:
// across DST changes, a change inside a minute, zones half an hour off, a DST of half an hour,
// and a date of the locale's own. So does the text it keeps for lines, made once for each day and
// each second of the day (for the offset it was made under).
TEST_F(TimeText, AReportsClockTellsTheTimeTheLibraryDoes) {
    const struct {
        const char *tz, *locale;
        uint32_t from, span; // seconds since 1970
    } rows[] = {{"Africa/Monrovia", "C", 63593070 - 20 * 86400, 40 * 86400},
                {"Europe/Berlin", "C", 1577836800, 366 * 86400},
                {"America/St_Johns", "C", 1577836800, 366 * 86400},
                {"Australia/Lord_Howe", "C", 1577836800, 366 * 86400},
                {"Asia/Kolkata", "ja_JP.UTF-8", 1577836800, 2000 * 86400},
                {"America/New_York", "C", 0, 3 * 86400}, // local time before 1970
                {"UTC", "C", 0xFFFFFFFFu - 7200, 7200}};
    for (const auto& row : rows) {
        if (!use(row.locale, row.tz))
            continue; // the locale is not installed here
        LocalClock clock, lineClock;
        for (uint32_t i = 0; i < 40000; ++i) {
            uint32_t t = row.from + static_cast<uint32_t>(uint64_t(i) * 2654435761u % row.span);
            ASSERT_EQ(clockDateTimeText(clock, t), dateTimeText(t)) << row.tz << " " << t;
            ASSERT_EQ(ConsoleDateTime(t, lineClock).text(), dateTimeText(t)) << row.tz << " " << t;
        }
        for (uint32_t t : {63593069u, 63593070u, 1585443599u, 1585443600u, 1603587599u, 1603587600u,
                           0xFFFFFFFFu}) {
            ASSERT_EQ(clockDateTimeText(clock, t), dateTimeText(t)) << row.tz << " " << t;
            ASSERT_EQ(ConsoleDateTime(t, lineClock).text(), dateTimeText(t)) << row.tz << " " << t;
        }
    }
}

TEST(TimeFormat, TranslatesTheCLibraryFormat) {
    EXPECT_EQ(twentyFourHourFormat("%H:%M:%S", 1), "%H:%M:%S");
    EXPECT_EQ(twentyFourHourFormat("%r", 1), "%H:%M:%S");
    EXPECT_EQ(twentyFourHourFormat("%I:%M:%S %p", 1), "%H:%M:%S");
    EXPECT_EQ(twentyFourHourFormat("%l:%M:%S %P", 1), "%k:%M:%S");
    EXPECT_EQ(twentyFourHourFormat("%p %I:%M:%S", 1), "%H:%M:%S");
    EXPECT_EQ(twentyFourHourFormat("%T", 0), "%H:%M");
    EXPECT_EQ(twentyFourHourFormat("%H.%M.%S Uhr", 0), "%H.%M Uhr");
    EXPECT_EQ(twentyFourHourFormat("%p %S", 0), "");
    EXPECT_EQ(twentyFourHourFormat("%H%%%M", 1), "%H%%%M");
    EXPECT_EQ(timePicture("%H:%M:%S"), "HH:mm:ss");
    EXPECT_EQ(timePicture("%r"), "hh:mm:ss tt");
    EXPECT_EQ(timePicture("%T"), "HH:mm:ss");
    EXPECT_EQ(timePicture("%R"), "HH:mm");
    EXPECT_EQ(timePicture("%Hh%M"), "HH'h'mm");
    EXPECT_EQ(timePicture("%OH\xE6\x99\x82%M"), "HH\xE6\x99\x82mm");
    EXPECT_EQ(timeSeparator("%H:%M:%S"), ":");
    EXPECT_EQ(timeSeparator("%H.%M.%S"), ".");
    EXPECT_EQ(timeSeparator("%r"), ":");
    EXPECT_EQ(timeSeparator("%H%M"), ":");
    EXPECT_EQ(timeSeparator("%H.%M"), ":");
    EXPECT_EQ(timeSeparator("%OH.%OM.%OS"), ".");
    EXPECT_EQ(timeSeparator("%p %l.%M.%S"), ".");
    EXPECT_EQ(timeSeparator("%H\xE6\x99\x82%M\xE5\x88\x86%S\xE7\xA7\x92"), ":");
    EXPECT_EQ(timeSeparator("%H\xEC\x8B\x9C %M\xEB\xB6\x84 %S\xEC\xB4\x88"), ":");
}

} // namespace
