#include "app/modifiers.h"
#include "report/day_totals.h"
#include "support/support.h"

#include <random>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace {

const char kUsage[] = "Usage: vlmaudit [ /on | /off | /time | /list | /help ]\n";
const char kWhen[] = "YYYY-MM-DD[THH:MM[:SS]][Z|+HH:MM], today, yesterday or now.\n";
const char kRange[] = "a date from 1970-01-01 to 2106-02-07.\n";

struct CommandLine {
    std::vector<std::string> args;
    std::string out;
    std::string errors;
    int exitCode;
};

// The local midnight of a date, as the window's line shows it.
std::string localStart(const char* date) {
    int64_t moment = 0;
    EXPECT_TRUE(readWhen(utf8ToUtf16(date).c_str(), 0, &moment));
    return dateTimeText(static_cast<uint32_t>(moment));
}

// What the grammar answers, on an empty log with auditing enabled: a word that is no modifier
// gets the usage line and one line naming the word, modifiers with a wrong value one line
// naming them.
TEST(Modifiers, CommandLines) {
    Sandbox sandbox;
    ASSERT_EQ(createKey(WSTR("System\\CurrentControlSet\\Control\\Velmor")), ERROR_SUCCESS);
    runAndCapture({"/on"});
    const std::string when = std::string("vlmaudit: /since: expected ") + kWhen;
    const std::string range = std::string("vlmaudit: /since: expected ") + kRange;
    const std::string ofList = " is not an option or a modifier of /list.\n";
    const std::string ofTime = " is not an option or a modifier of /time.\n";
    const CommandLine lines[] = {
        {{"/list", "/time"}, kUsage, "vlmaudit: /time" + ofList, 1},
        {{"/list", "extra"}, kUsage, "vlmaudit: extra" + ofList, 1},
        {{"/LIST", "/sinse:2025-12-01"}, kUsage, "vlmaudit: /sinse:2025-12-01" + ofList, 1},
        {{"/list", "/users:alice"}, kUsage, "vlmaudit: /users:alice" + ofList, 1},
        {{"/list", "/user=alice"}, kUsage, "vlmaudit: /user=alice" + ofList, 1},
        {{"/list", "-user:alice"}, kUsage, "vlmaudit: -user:alice" + ofList, 1},
        {{"/list", ""}, kUsage, "vlmaudit: an empty argument" + ofList, 1},
        {{"/time", "/bogus"}, kUsage, "vlmaudit: /bogus" + ofTime, 1},
        {{"/time", "/since:today", "/bogus", "/x"}, kUsage, "vlmaudit: /bogus" + ofTime, 1},
        {{"/time", "/since:bad", "/bogus"}, kUsage, "vlmaudit: /bogus" + ofTime, 1},
        {{"/on", "/since:today"},
         kUsage,
         "vlmaudit: /since:today is not a modifier of /on, which takes none.\n",
         1},
        {{"/list", "/sincex:today"}, kUsage, "vlmaudit: /sincex:today" + ofList, 1},
        {{"/list", "/since:2025-12-01"},
         "Window: from " + localStart("2025-12-01") + "\n\n",
         "",
         0},
        {{"/TIME", "/UNTIL:2025-12-01T10:30Z", "/Since:2025-12-01T09:00:05+01:00"},
         "Window: from " + dateTimeText(1764576005) + " until " + dateTimeText(1764585000) +
             "; lengths count only the time inside it\n\n",
         "",
         0},
        {{"/time", "/user:*", "/format:TEXT"}, "", "", 0},
        {{"/list", "/format:csv"},
         std::string("\xEF\xBB\xBFtime,epoch,event,domain,user,session,session_number") +
             kCsvLineEnd,
         "",
         0},
        // The documents go on with their context, which holds the present time.
        {{"/list", "/format:json"}, "{\"events\": [], \"now\": {\"time\": \"", "", 0},
        {{"/time", "/daily", "/format:json"}, "{\"users\": [], \"now\": {\"time\": \"", "", 0},
        {{"/list", "/computer:*", "/format:json"}, "{\"computers\": [], \"now\": ", "", 0},
        {{"/time", "/computer:"},
         "",
         "vlmaudit: /computer: expected a computer's name, with * and ? as in file names.\n",
         1},
        {{"/list", "/computer:a", "/COMPUTER:b"},
         "",
         "vlmaudit: /computer: expected at most once.\n",
         1},
        {{"/list", "/file:", "/file:a.evtx"},
         "",
         "vlmaudit: /file: expected the path of a saved event log (.evt or .evtx).\n",
         1},
        {{"/list", "/since:2025-02-29"}, "", when, 1},
        {{"/list", "/since:2025-12-01T24:00"}, "", when, 1},
        {{"/list", "/since:2025-12-01T10:00+1"}, "", when, 1},
        {{"/list", "/since:2025-12-01 "}, "", when, 1},
        {{"/list", "/since:tomorrow"}, "", when, 1},
        {{"/list", "/since"}, "", when, 1},
        {{"/list", "/since:1969-12-31"}, "", range, 1},
        {{"/list", "/since:2106-02-08"}, "", range, 1},
        {{"/list", "/since:0000-01-01T00:00Z"}, "", range, 1},
        {{"/list", "/until:2106-02-08T00:00+01:00"},
         "",
         std::string("vlmaudit: /until: expected ") + kRange,
         1},
        {{"/list", "/since:1969-12-32"}, "", when, 1},
        {{"/list", "/since:now", "/until:2025-01-01"},
         "",
         "vlmaudit: /until: expected a time later than /since.\n",
         1},
        {{"/list", "/since:2025-01-01", "/until:2025-01-01"},
         "",
         "vlmaudit: /until: expected a time later than /since.\n",
         1},
        {{"/list", "/since:today", "/SINCE:today"},
         "",
         "vlmaudit: /since: expected at most once.\n",
         1},
        {{"/time", "/user:"},
         "",
         "vlmaudit: /user: expected a name: DOMAIN\\USER or USER, with * and ? as in file names.\n",
         1},
        {{"/list", "/user:\\"},
         "",
         "vlmaudit: /user: expected a name: DOMAIN\\USER or USER, with * and ? as in file names.\n",
         1},
        {{"/time", "/user:CORP\\"},
         "",
         "vlmaudit: /user: expected a name: DOMAIN\\USER or USER, with * and ? as in file names.\n",
         1},
        {{"/time", "/user:\\alice"}, "", "", 0},
        {{"/time", "/format:xml"}, "", "vlmaudit: /format: expected text, csv or json.\n", 1},
        {{"/list", "/daily"},
         "",
         "vlmaudit: /daily: expected to follow /time, without a value.\n",
         1},
        {{"/time", "/daily:yes"},
         "",
         "vlmaudit: /daily: expected to follow /time, without a value.\n",
         1},
        {{"/time", "/file:"},
         "",
         "vlmaudit: /file: expected the path of a saved event log (.evt or .evtx).\n",
         1},
    };
    for (const CommandLine& line : lines) {
        int rc = -1;
        std::string errors;
        std::string out = runAndCapture(line.args, &rc, &errors);
        std::string joined;
        for (const std::string& arg : line.args)
            joined += arg + " ";
        // A document that goes on with the present time is compared up to it.
        EXPECT_EQ(out.substr(0, line.out.empty() || line.out.back() == '\n' ? std::string::npos
                                                                            : line.out.size()),
                  line.out)
            << joined;
        EXPECT_EQ(errors, line.errors) << joined;
        EXPECT_EQ(rc, line.exitCode) << joined;
    }
}

TEST(Modifiers, WhenWithAnOffsetIsThatMoment) {
    const struct {
        const char* text;
        int64_t moment;
    } cases[] = {
        {"2025-12-01Z", 1764547200},
        {"2025-12-01T09:00z", 1764579600},
        {"2025-12-01t09:00:30Z", 1764579630},
        {"2025-12-01T09:00+01:00", 1764576000},
        {"2025-12-01T09:00-05:30", 1764599400},
        {"2024-02-29T00:00Z", 1709164800},
        {"NOW", 1764579600},
    };
    for (const auto& c : cases) {
        int64_t moment = -1;
        EXPECT_TRUE(readWhen(utf8ToUtf16(c.text).c_str(), 1764579600, &moment)) << c.text;
        EXPECT_EQ(moment, c.moment) << c.text;
    }
}

// The wildcard rule the plain way, for the tests to compare with: matched[j] tells whether the
// pattern so far matches the text's first j units.
int plainWildcardMatch(const WString& pattern, const WString& text) {
    auto fold = [](WCHAR c) { return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c + 32) : c; };
    std::vector<char> matched(text.size() + 1), next(text.size() + 1);
    matched[0] = 1;
    for (WCHAR p : pattern) {
        next[0] = p == '*' && matched[0];
        for (size_t j = 1; j <= text.size(); ++j)
            next[j] = p == '*' ? next[j - 1] || matched[j]
                               : matched[j - 1] && (p == '?' || fold(p) == fold(text[j - 1]));
        matched.swap(next);
    }
    return matched[text.size()];
}

int plainUserMatch(const WString& pattern, const WString& domain, const WString& user) {
    size_t slash = pattern.find(WCHAR('\\'));
    if (slash == WString::npos)
        return plainWildcardMatch(pattern, user);
    return plainWildcardMatch(pattern.substr(0, slash), domain) &&
           plainWildcardMatch(pattern.substr(slash + 1), user);
}

TEST(Modifiers, UserPatternsMatchAsFileNamesWithoutRegardToCase) {
    const struct {
        const char* pattern;
        const char* domain;
        const char* user;
        int matches;
    } cases[] = {
        {"alice", "CORP", "Alice", 1},
        {"alice", "CORP", "alice2", 0},
        {"corp\\alice", "CORP", "alice", 1},
        {"other\\alice", "CORP", "alice", 0},
        {"a*", "CORP", "ab", 1},
        {"a*e", "CORP", "abcde", 1},
        {"a*e", "CORP", "abced", 0},
        {"a*a", "CORP", "a", 0},
        {"?lice", "X", "alice", 1},
        {"?lice", "X", "lice", 0},
        {"*\\*", "", "", 1},
        {"**", "", "", 1},
        {"*?*", "", "", 0},
        {"C*\\*O*", "corp", "bob", 1},
        {"C*\\*O*", "xorp", "bob", 0},
        {"*", "-", "SYSTEM", 1},
        {"al\\ice", "al", "ice", 1},
        {"*ab*ab*", "", "abab", 1},
        {"*ab*ba*", "", "aba", 0},
        {"*aab*", "", "aaab", 1},
        {"*a?C*", "", "xAbc", 1},
        {"*\xc3\xa9*", "", "\xc3\x89\xc3\xa9", 1}, // only ASCII letters fold
        {"*\xc3\xa9*", "", "\xc3\x89", 0},
        {"*?\xf0\x9f\x98\x80", "", "\xf0\x9f\x98\x80", 0}, // ? is one unit of the pair
        {"*??*", "", "\xf0\x9f\x98\x80", 1},
    };
    for (const auto& c : cases) {
        WString pattern = utf8ToUtf16(c.pattern);
        WString domain = utf8ToUtf16(c.domain), user = utf8ToUtf16(c.user);
        EXPECT_EQ(UserPattern(pattern).matches(domain.c_str(), user.c_str()), c.matches)
            << c.pattern << " " << c.domain << "\\" << c.user;
        EXPECT_EQ(plainUserMatch(pattern, domain, user), c.matches) << c.pattern;
    }
}

// Patterns and names drawn from a few units (letters of both cases, a non-ASCII letter, the
// halves of a pair, the wildcards as text), short ones and ones whose pieces span several words
// of the search, each against the plain rule.
TEST(Modifiers, UserPatternsMatchAsThePlainRule) {
    const WCHAR patternUnits[] = {'a', 'A', 'b', '?', '*', 0xE9, 0xD83D};
    const WCHAR textUnits[] = {'a', 'b', 'B', '?', '*', 0xE9, 0xD83D, 0xDE00};
    std::mt19937 random(7);
    auto pick = [&](size_t count) { return static_cast<size_t>(random() % count); };
    size_t matched = 0, total = 0;
    for (int round = 0; round < 30000; ++round) {
        const int longer = round % 10 == 0;
        WString text, pattern;
        for (size_t n = pick(longer ? 300 : 14); n > 0; --n)
            text += longer ? WCHAR('a' + pick(2))
                           : textUnits[pick(sizeof textUnits / sizeof textUnits[0])];
        if (longer) { // stars between pieces of the text, some units turned into ? or case
            for (size_t at = pick(8); at < text.size(); at += 1 + pick(150)) {
                pattern += '*';
                for (size_t n = pick(140); n > 0 && at < text.size(); --n, ++at)
                    pattern += pick(20) == 0  ? WCHAR('?')
                               : pick(3) == 0 ? WCHAR(text[at] - 32)
                                              : text[at];
            }
            if (pick(2))
                pattern += '*';
            if (!pattern.empty() && pick(4) == 0)
                pattern[pick(pattern.size())] = 'b';
        } else {
            for (size_t n = pick(10); n > 0; --n)
                pattern += patternUnits[pick(sizeof patternUnits / sizeof patternUnits[0])];
        }
        int expected = plainWildcardMatch(pattern, text);
        ASSERT_EQ(UserPattern(pattern).matches(WSTR("CORP"), text.c_str()), expected)
            << utf8(pattern) << " " << utf8(text);
        matched += static_cast<size_t>(expected);
        total += 1;
    }
    // Both answers are common, or the comparison would say little.
    EXPECT_GT(matched, total / 10);
    EXPECT_LT(matched, total - total / 10);
}

#ifndef _WIN32
long peakKilobytes() {
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
#else
long peakKilobytes() {
    return 0;
}
#endif

// A log may hold sessions of decades (a logon dated 1970 that never ended): /daily gives each
// day once, and its work and memory do not grow with the sessions' length.
TEST(Modifiers, DailyTotalsOfSessionsOverEveryDate) {
    LocalClock clock;
    DayTotals days(clock);
    long before = peakKilobytes();
    int64_t sessions = 200, total = 0;
    for (int64_t i = 0; i < sessions; ++i) {
        days.add(i * 3600, UINT32_MAX - i);
        total += UINT32_MAX - i - i * 3600;
    }
    int64_t day = 0, seconds = 0, previous = -2, sum = 0, count = 0;
    while (days.next(&day, &seconds)) {
        EXPECT_GT(day, previous);
        EXPECT_LE(seconds, sessions * 26 * 3600) << day;
        previous = day;
        sum += seconds;
        ++count;
    }
    EXPECT_EQ(sum, total);
    EXPECT_GE(count, UINT32_MAX / 86400);
    EXPECT_LT(peakKilobytes() - before, 64 * 1024);
    days.add(86400 * 10 + 7200, 86400 * 10 + 7300);
    EXPECT_TRUE(days.next(&day, &seconds));
    EXPECT_EQ(seconds, 100);
    EXPECT_FALSE(days.next(&day, &seconds));
}

#ifndef _WIN32
// A path named by /file: that holds no saved log says what it is instead; nothing waits on a
// FIFO.
TEST(Modifiers, FileThatHoldsNoSavedLog) {
    Sandbox sandbox;
    const std::string fifo = sandbox.root() + "/fifo.evtx";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    writeFile(sandbox.root() + "/passwd", "root:x:0:0:root:/root:/bin/sh\n");
    writeFile(sandbox.root() + "/empty.evt", "");
    const struct {
        std::string path;
        const char* why;
    } cases[] = {
        {sandbox.root(), "the path is a directory"},
        {sandbox.root() + "/", "the path is a directory"},
        {fifo, "the path is not a regular file"},
        {"/dev/null", "the path is not a regular file"},
        {sandbox.root() + "/passwd", "the file is not an event log: .evt or .evtx"},
        {sandbox.root() + "/empty.evt", "the file is not an event log: .evt or .evtx"},
        {sandbox.root() + "/missing.evt", "the file does not exist"},
    };
    for (const auto& c : cases) {
        int rc = -1;
        std::string errors;
        EXPECT_EQ(runAndCapture({"/list", "/file:" + c.path}, &rc, &errors), "") << c.path;
        EXPECT_EQ(errors, "vlmaudit: /file: " + c.path + " could not be opened (" + c.why + ").\n");
        EXPECT_EQ(rc, 1) << c.path;
    }
}

// A Linux file name is bytes, which need not be UTF-8 (a share mounted with iso8859-1).
TEST(Modifiers, FileNamedInAnyBytes) {
    Sandbox sandbox;
    std::string log = readFile(std::string(VLMAUDIT_TEST_DATA) + "/xp-AppEvent.Evt");
    ASSERT_EQ(log.size(), 65536u);
    writeFile(sandbox.root() + "/saved.evt", log);
    writeFile(sandbox.root() + "/caf\xe9 \xff.evt", log);
    int rc = -1;
    std::string errors;
    std::string want = runAndCapture({"/list", "/file:" + sandbox.root() + "/saved.evt"});
    std::string out =
        runAndCapture({"/list", "/file:" + sandbox.root() + "/caf\xe9 \xff.evt"}, &rc, &errors);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, want);
}
#endif

} // namespace
