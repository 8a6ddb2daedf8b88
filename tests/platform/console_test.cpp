// Formatted output (both builds).
#include "support/support.h"

#include <set>
#include <vector>

namespace {

std::string captured(void (*write)()) {
    testing::internal::CaptureStdout();
    write();
    flushOutput(); // the end of a line that does not end
    return testing::internal::GetCapturedStdout();
}

// Every code the platform and the reader give has words of its own, none alike; a code nobody
// knows is still a sentence, with its number.
TEST(ErrorText, EveryCodeIsSaidInWords) {
    const LONG codes[] = {ERROR_SUCCESS,
                          ERROR_FILE_NOT_FOUND,
                          ERROR_ACCESS_DENIED,
                          ERROR_INVALID_HANDLE,
                          ERROR_NOT_ENOUGH_MEMORY,
                          ERROR_WRITE_FAULT,
                          ERROR_HANDLE_EOF,
                          ERROR_INVALID_PARAMETER,
                          ERROR_INSUFFICIENT_BUFFER,
                          ERROR_MORE_DATA,
                          ERROR_BADDB,
                          ERROR_KEY_DELETED,
                          ERROR_FILE_CORRUPT,
                          ERROR_EVENTLOG_FILE_CORRUPT};
    std::set<std::string> texts;
    for (LONG code : codes) {
        std::string text = errorText(code);
        EXPECT_EQ(text.find_first_of("0123456789"), std::string::npos) << code << ": " << text;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), sizeof codes / sizeof codes[0]);
    std::string unknown = errorText(0x2A5F3);
    EXPECT_NE(unknown.find("173555"), std::string::npos) << unknown;
    EXPECT_NE(unknown.find(' '), std::string::npos) << unknown;
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

// Text longer than the output buffer (64 KiB), with a surrogate pair and a hidden unit at every
// place about its edge.
TEST(PrintOut, LongTextKeepsSurrogatePairsWhole) {
    static WString text;
    for (size_t before : {511, 2043, 2044, 2045, 2046, 2047, 65531, 65532, 65533, 65534, 65535}) {
        text.assign(before, WCHAR('a'));
        text += static_cast<WCHAR>(0xD835);
        text += static_cast<WCHAR>(0xDC9C);
        text += static_cast<WCHAR>(0x1B);
        text.append(600, WCHAR('b'));
        std::string expected =
            std::string(before, 'a') + "\xF0\x9D\x92\x9C\xEF\xBF\xBD" + std::string(600, 'b');
        EXPECT_EQ(captured([] { printOut("%S", text.c_str()); }), expected) << before;
    }
}

// A text made ready once (formatText, consoleTextOf) and written with %P is what %S writes,
// whatever its length: a long one is cut between characters as the buffer fills.
TEST(PrintOut, TextMadeReadyIsWrittenAsItWasMade) {
    static const struct {
        WString text;
        size_t repeat;
    } rows[] = {{WSTR("alice"), 1},
                {WString{0x1B, 'a', 0xD835, 0xDC9C, 0xD800, 0x200B, 0xE9}, 1},
                {WString{0xE9}, 40000},
                {WString{0xD835, 0xDC9C, 'x'}, 30000}};
    for (const auto& row : rows) {
        static WString text;
        text.clear();
        for (size_t i = 0; i < row.repeat; ++i)
            text += row.text;
        std::string expected = captured([] { printOut("%S", text.c_str()); });
        static std::string made;
        made.clear();
        formatText(made, "%S", text.c_str());
        EXPECT_EQ(made, expected);
        EXPECT_EQ(captured([] { printOut("%P", made.c_str()); }), expected);
        std::vector<char> out(expected.size() + 1);
        EXPECT_EQ(consoleTextOf(text.c_str(), out.data(), out.size()), expected.size() + 1);
        EXPECT_EQ(std::string(out.data()), expected);
        EXPECT_EQ(consoleTextOf(text.c_str(), out.data(), out.size() - 1), 0u);
    }
}

TEST(PrintOut, WritesUtf8AndReplacesLoneSurrogates) {
    static const WCHAR text[] = {0xE9, 0x65E5, 0xD835, 0xDC9C, 0xD800, 'x', 0xDC00, 0};
    EXPECT_EQ(captured([] { printOut("%S", text); }),
              "\xC3\xA9\xE6\x97\xA5\xF0\x9D\x92\x9C\xEF\xBF\xBDx\xEF\xBF\xBD");
    // Each text stands alone: halves of a pair in two texts are two lone surrogates.
    static const WCHAR high[] = {0xD835, 0}, low[] = {0xDC9C, 0};
    EXPECT_EQ(captured([] { printOut("%S%S", high, low); }), "\xEF\xBF\xBD\xEF\xBF\xBD");
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

namespace {

// One U+FFFD for each maximal ill-formed subpart.
TEST(Utf8ToUtf16, ReplacesEachMaximalIllFormedSubpart) {
    const struct {
        const char* bytes;
        std::u16string units;
    } rows[] = {
        {"a\xC3\xA9", u"a\u00e9"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"}, // C0 lead: two replacements
        {"\xC1\xBF", u"\uFFFD\uFFFD"},
        {"\xF8\x80\x80", u"\uFFFD\uFFFD\uFFFD"}, // F8 is no lead byte (was U+8000)
        {"\xF5\x80", u"\uFFFD\uFFFD"},
        {"\xFF", u"\uFFFD"},
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},           // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           // a surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // past U+10FFFF
        {"\xE6\x97", u"\uFFFD"},                           // truncated: one for the subpart
        {"\xF0\x9F\x98x", u"\uFFFDx"},
        {"\xE6\x97\xE6\x97\xA5", u"\uFFFD\u65e5"},
        {"\x80x", u"\uFFFDx"},
    };
    for (const auto& row : rows) {
        WString got = utf8ToUtf16(row.bytes);
        EXPECT_EQ(std::u16string(got.begin(), got.end()), row.units) << row.bytes;
    }
}

// Each character that a terminal draws as nothing, or that reorders a line, is one U+FFFD: the
// first and last of every range, those of the supplementary planes included.
TEST(PrintOut, NamesNeverCarryBidirectionalOrInvisibleCharacters) {
    const char32_t hidden[] = {
        0x00AD,  0x034F,  0x061C,  0x115F,  0x1160,  0x17B4,  0x17B5,  0x180B, 0x180F,
        0x200B,  0x200D,  0x200F,  0x202A,  0x202E,  0x2060,  0x2066,  0x2069, 0x206F,
        0x3164,  0xFE00,  0xFE0F,  0xFEFF,  0xFFA0,  0xFFF0,  0xFFF9,  0xFFFB, 0x1BCA0,
        0x1BCA3, 0x1D173, 0x1D17A, 0xE0000, 0xE0020, 0xE007F, 0xE0FFF,
    };
    for (char32_t c : hidden) {
        static WString name;
        name.assign(1, WCHAR('a'));
        appendUtf16(name, c);
        name += WCHAR('b');
        EXPECT_EQ(captured([] { printOut("%S", name.c_str()); }), "a\xEF\xBF\xBD"
                                                                  "b")
            << std::hex << static_cast<uint32_t>(c);
    }
    // Their neighbours print as they are.
    static WString kept;
    for (char32_t c : {0x00AE, 0x200A, 0x2010, 0x2070, 0x2029, 0x05D0, 0x3165, 0xFFFC, 0x1D17B,
                       0xE1000, 0x1F600})
        appendUtf16(kept, c);
    EXPECT_EQ(captured([] { printOut("%S", kept.c_str()); }), toUtf8(kept.c_str()));
}

} // namespace

namespace {

// Finished lines wait in a large buffer and go in blocks of whole lines when it is nearly full;
// printError hands over those before its message, flushOutput everything. A line is never
// handed over in part unless it is longer than the buffer.
TEST(PrintOut, HandsOverBlocksOfWholeLines) {
    const struct {
        size_t length; // of each line, its end included
        size_t lines;
        int stopWithError; // printError after the lines, before looking
        size_t handed;     // lines on standard output before flushOutput
    } rows[] = {
        {4, 1, 0, 0},       {100, 600, 0, 0},     {100, 615, 0, 615},
        {100, 700, 0, 615}, {100, 1300, 0, 1230}, {1000, 62, 0, 62},
        {4, 1, 1, 1},       {100, 700, 1, 700},   {70000, 1, 0, 0},
    };
    for (const auto& row : rows) {
        std::string line(row.length - 1, 'x');
        line += '\n';
        testing::internal::CaptureStdout();
        for (size_t i = 0; i < row.lines; ++i)
            printOut("%s", line.c_str());
        printOut("unfinished");
        if (row.stopWithError)
            printError("%s", "");
        std::string handed = testing::internal::GetCapturedStdout();
        testing::internal::CaptureStdout();
        flushOutput();
        std::string rest = testing::internal::GetCapturedStdout();
        if (row.length > 65536) { // cut between characters, as the buffer fills
            EXPECT_EQ(handed + rest, line + "unfinished");
            continue;
        }
        EXPECT_EQ(handed.size(), row.handed * row.length) << row.length << " " << row.lines;
        EXPECT_EQ(handed + rest,
                  [&] {
                      std::string all;
                      for (size_t i = 0; i < row.lines; ++i)
                          all += line;
                      return all + "unfinished";
                  }())
            << row.length << " " << row.lines;
    }
}

} // namespace

namespace {

// Names go into CSV and JSON exactly; only what the formats require is quoted or escaped, and a
// lone surrogate, which no UTF-8 or I-JSON reader takes, is U+FFFD.
TEST(PrintOut, CsvAndJsonTextsKeepNamesExactly) {
    static const struct {
        WString name;
        const char* csv;
        const char* json;
    } cases[] = {
        {WSTR("alice"), "alice", "\"alice\""},
        {WSTR("a,b"), "\"a,b\"", "\"a,b\""},
        {WSTR("say \"hi\""), "\"say \"\"hi\"\"\"", "\"say \\\"hi\\\"\""},
        {WSTR("a\r\nb"), "\"a\r\nb\"", "\"a\\u000d\\nb\""},
        {WSTR("=1+2"), "'=1+2", "\"=1+2\""},
        {WSTR("+x"), "'+x", "\"+x\""},
        {WSTR("-x"), "'-x", "\"-x\""},
        {WSTR("@x"), "'@x", "\"@x\""},
        {WSTR("\tx"), "'\tx", "\"\\tx\""},
        {WSTR("\rx"), "\"'\rx\"", "\"\\u000dx\""},
        {WSTR("x=1"), "x=1", "\"x=1\""},
        {WSTR("a\\b/c"), "a\\b/c", "\"a\\\\b/c\""},
        {WSTR("J\u00fcrgen \u5f20"), "J\xC3\xBCrgen \xE5\xBC\xA0",
         "\"J\xC3\xBCrgen \xE5\xBC\xA0\""},
        {WSTR("al\u200bice"), "al\xE2\x80\x8Bice", "\"al\\u200bice\""},
        {WString(1, static_cast<WCHAR>(0xD800)) + WSTR("x"), "\xEF\xBF\xBDx", "\"\xEF\xBF\xBDx\""},
        {WString{'x', static_cast<WCHAR>(0xDC00), static_cast<WCHAR>(0xD800)},
         "x\xEF\xBF\xBD\xEF\xBF\xBD", "\"x\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {WString{static_cast<WCHAR>(0xDB40), static_cast<WCHAR>(0xDC41)}, "\xF3\xA0\x81\x81",
         "\"\\udb40\\udc41\""},
        {WString{static_cast<WCHAR>(0xD83D), static_cast<WCHAR>(0xDE00)}, "\xF0\x9F\x98\x80",
         "\"\xF0\x9F\x98\x80\""},
    };
    static const WCHAR* name = nullptr;
    for (const auto& c : cases) {
        name = c.name.c_str();
        EXPECT_EQ(captured([] { printOut("%C", name); }), c.csv) << c.csv;
        EXPECT_EQ(captured([] { printOut("%J", name); }), c.json) << c.json;
    }
    EXPECT_EQ(captured([] { printOut("%C|%J", nullptr, nullptr); }), "|null");
}

} // namespace

namespace {

// argv holds the ANSI code page's bytes on Windows and any bytes on Linux: a byte past ASCII in a
// modifier's value reaches it as one unit of its own, never as U+FFFD.
TEST(WideArguments, KeepEveryByteOfAValue) {
    char program[] = "vlmaudit", list[] = "/list", file[] = "/file:caf\xe9.evt";
    char* argv[] = {program, list, file};
    std::vector<WString> wide = wideArguments(3, argv);
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(utf8(wide[1]), "/list");
    ASSERT_EQ(wide[2].size(), 14u);
    EXPECT_NE(static_cast<char16_t>(wide[2][9]), 0xFFFD);
    EXPECT_EQ(utf8(wide[2].substr(10)), ".evt");
}

} // namespace
