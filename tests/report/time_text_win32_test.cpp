// Dates and times from Windows' national-language services. ctest runs this file once with
// LANG=en_US.UTF-8 and once with LANG=de_DE.UTF-8, both with TZ=UTC.
#include "report/time_text.h"
#include "support/support.h"

#include <cstdlib>

namespace {

std::string userLocale() {
    WCHAR name[LOCALE_NAME_MAX_LENGTH];
    return GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SNAME, name, LOCALE_NAME_MAX_LENGTH)
               ? toUtf8(name)
               : "";
}

TEST(TimeTextWindows, LocaleForms) {
    std::string locale = userLocale();
    if (locale == "en-US") {
        EXPECT_EQ(dateTimeText(1000000000), "9/9/2001 1:46:40");
        EXPECT_EQ(dateTimeText(1000000000 + 13 * 3600), "9/9/2001 14:46:40"); // 24-hour, no PM
    } else if (locale == "de-DE") {
        EXPECT_EQ(dateTimeText(1000000000), "9.9.2001 01:46:40");
    } else {
        GTEST_SKIP() << "no expectations for the user locale '" << locale << "'";
    }
    EXPECT_EQ(durationText(100000), "27:46:40");
    EXPECT_EQ(durationText(0), "00:00:00");
}

// A report's clock, over Windows' own conversions, tells the time they tell.
TEST(TimeTextWindows, AReportsClockTellsTheTimeTheSystemDoes) {
    LocalClock clock;
    for (uint32_t i = 0; i < 5000; ++i) {
        uint32_t t = static_cast<uint32_t>(uint64_t(i) * 2654435761u * 977u);
        ASSERT_EQ(clockDateTimeText(clock, t), dateTimeText(t)) << t;
    }
}

TEST(TimeTextWindows, CurrentTimeIsNow) {
    uint32_t now = currentSecondsSince1970();
    EXPECT_GT(now, 1700000000u); // later than November 2023
}

} // namespace
