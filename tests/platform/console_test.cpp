// Formatted output (both builds).
#include "support/support.h"

namespace {

std::string captured(void (*write)()) {
    testing::internal::CaptureStdout();
    write();
    return testing::internal::GetCapturedStdout();
}

TEST(PrintOut, FormatsNarrowWideAndNumbers) {
    EXPECT_EQ(captured([] {
                  printOut("%S|%s|%d|%4d|%4d|%u|%%|%S.", WSTR("w"), "n", -1, 3, 12345, 4294967295u,
                           nullptr);
              }),
              "w|n|-1|   3|12345|4294967295|%|.");
}

TEST(PrintOut, EmptyTextWritesNothing) {
    EXPECT_EQ(captured([] { printOut("%S", WSTR("")); }), "");
    EXPECT_EQ(captured([] { printOut(""); }), "");
}

// Text longer than the output buffer, with a surrogate pair across its edge.
TEST(PrintOut, LongTextKeepsSurrogatePairsWhole) {
    static WString text;
    text.assign(511, WCHAR('a'));
    text += static_cast<WCHAR>(0xD835);
    text += static_cast<WCHAR>(0xDC9C);
    text.append(600, WCHAR('b'));
    std::string expected = std::string(511, 'a') + "\xF0\x9D\x92\x9C" + std::string(600, 'b');
    EXPECT_EQ(captured([] { printOut("%S", text.c_str()); }), expected);
}

TEST(PrintOut, WritesUtf8AndReplacesLoneSurrogates) {
    static const WCHAR text[] = {0xE9, 0x65E5, 0xD835, 0xDC9C, 0xD800, 'x', 0xDC00, 0};
    EXPECT_EQ(captured([] { printOut("%S", text); }),
              "\xC3\xA9\xE6\x97\xA5\xF0\x9D\x92\x9C\xEF\xBF\xBDx\xEF\xBF\xBD");
}

TEST(PrintOut, NamesNeverCarryControlCharactersToTheTerminal) {
    static const WCHAR name[] = {'a',  0x1B, '[',  '2',  'J',  0x0D, 0x07,
                                 0x09, 0x7F, 0x9B, 0x7E, 0xA0, 0};
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(captured([] { printOut("%S\n", name); }),
              "a" + fffd + "[2J" + fffd + fffd + fffd + fffd + fffd + "~\xC2\xA0\n");
    // The format's own line ends are kept.
    EXPECT_EQ(captured([] { printOut("\n%s\n", "x"); }), "\nx\n");
}

} // namespace
