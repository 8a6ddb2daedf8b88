#include "modifiers.h"

#include "dispatch.h"
#include "report/time_text.h"

namespace {

const char kWhen[] = "YYYY-MM-DD[THH:MM[:SS]][Z|+HH:MM], today, yesterday or now";
// A moment of the right form that the reports cannot show (their times are 32-bit seconds).
const char kWhenRange[] = "a date from 1970-01-01 to 2106-02-07";

int lowerAscii(int c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

// text equals word (lower case), without regard to case.
int isWord(const WCHAR* text, const char* word) {
    for (; *word; ++text, ++word)
        if (lowerAscii(*text) != *word)
            return 0;
    return *text == 0;
}

// count decimal digits at text; their value, or -1.
int digitsAt(const WCHAR*& text, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i, ++text) {
        if (*text < '0' || *text > '9')
            return -1;
        value = value * 10 + (*text - '0');
    }
    return value;
}

int isSeparator(const WCHAR*& text, char c) {
    return *text == c ? (++text, 1) : 0;
}

// Z, or +HH:MM / -HH:MM, into offset; 0 when neither stands at text.
int readOffset(const WCHAR*& text, int64_t* offset) {
    if (lowerAscii(*text) == 'z') {
        ++text;
        *offset = 0;
        return 1;
    }
    int sign = *text == '+' ? 1 : *text == '-' ? -1 : 0;
    if (!sign)
        return 0;
    ++text;
    int hours = digitsAt(text, 2);
    int minutes = isSeparator(text, ':') ? digitsAt(text, 2) : -1;
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59)
        return 0;
    *offset = sign * (hours * 3600 + minutes * 60);
    return 1;
}

// The start of the local day days after the present one's.
int startOfDay(uint32_t now, int days, int64_t* moment) {
    int32_t offset = 0;
    if (!utcOffsetAt(now, &offset))
        return 0;
    int64_t reading = static_cast<int64_t>(now) + offset;
    int64_t day = (reading >= 0 ? reading : reading - 86399) / 86400 + days;
    return momentOfClockReading(day * 86400, moment);
}

// The words and digits of a moment, before any clock reads them.
struct WhenText {
    int day = 0;         // today (0) or yesterday (-1)
    int isDay = 0;       // today or yesterday
    int isNow = 0;       // now
    int64_t reading = 0; // a date and time: its clock reading, as seconds since 1970
    int hasOffset = 0;   // with Z or +HH:MM / -HH:MM after it
    int64_t offset = 0;
};

// 1 when text has the form of a moment, whatever the moment.
int readWhenText(const WCHAR* text, WhenText* when) {
    when->isNow = isWord(text, "now");
    when->isDay = isWord(text, "today") || isWord(text, "yesterday");
    when->day = isWord(text, "yesterday") ? -1 : 0;
    if (when->isNow || when->isDay)
        return 1;
    int year = digitsAt(text, 4);
    int month = isSeparator(text, '-') ? digitsAt(text, 2) : -1;
    int day = isSeparator(text, '-') ? digitsAt(text, 2) : -1;
    if (year < 0 || month < 1 || month > 12 || day < 1)
        return 0;
    int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    int64_t sameYear = 0;
    unsigned sameMonth = 0, sameDay = 0;
    civilFromDays(days, &sameYear, &sameMonth, &sameDay); // the 30th of February is not
    if (sameDay != static_cast<unsigned>(day) || sameMonth != static_cast<unsigned>(month))
        return 0;
    int64_t clock = 0;
    if (lowerAscii(*text) == 't') {
        ++text;
        int hours = digitsAt(text, 2);
        int minutes = isSeparator(text, ':') ? digitsAt(text, 2) : -1;
        int seconds = isSeparator(text, ':') ? digitsAt(text, 2) : 0;
        if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59)
            return 0;
        clock = hours * 3600 + minutes * 60 + seconds;
    }
    when->reading = days * 86400 + clock;
    if (*text == 0)
        return 1;
    when->hasOffset = 1;
    return readOffset(text, &when->offset) && *text == 0;
}

int readMoment(const WCHAR* text, uint32_t now, int64_t* moment) {
    WhenText when;
    if (!readWhenText(text, &when))
        return 0;
    if (when.isNow) {
        *moment = now;
        return 1;
    }
    if (when.isDay)
        return startOfDay(now, when.day, moment);
    if (!when.hasOffset)
        return momentOfClockReading(when.reading, moment);
    *moment = when.reading - when.offset;
    return 1;
}

struct Modifier {
    const char* name;
    int takesValue;
    int repeats; // may be given more than once
    // 1 when the value is right; command is the report's.
    int (*read)(const WCHAR* value, int command, uint32_t now, ReportOptions& options);
    const char* expected;
};

int readFile(const WCHAR* value, int, uint32_t, ReportOptions& options) {
    if (!*value)
        return 0;
    options.files.push_back(value);
    return 1;
}

int readSince(const WCHAR* value, int, uint32_t now, ReportOptions& options) {
    return readWhen(value, now, &options.since);
}

int readUntil(const WCHAR* value, int, uint32_t now, ReportOptions& options) {
    return readWhen(value, now, &options.until);
}

// A pattern whose user part is empty (CORP\ or \ alone) would quietly match nobody.
int readUser(const WCHAR* value, int, uint32_t, ReportOptions& options) {
    options.user = value;
    size_t slash = options.user.find(WCHAR('\\'));
    return !options.user.empty() && slash != options.user.size() - 1;
}

int readComputer(const WCHAR* value, int, uint32_t, ReportOptions& options) {
    options.computer = value;
    return !options.computer.empty();
}

int readFormat(const WCHAR* value, int, uint32_t, ReportOptions& options) {
    static const struct {
        const char* name;
        int format;
    } kFormats[] = {{"text", FormatText}, {"csv", FormatCsv}, {"json", FormatJson}};
    for (const auto& entry : kFormats)
        if (isWord(value, entry.name)) {
            options.format = entry.format;
            return 1;
        }
    return 0;
}

int readDaily(const WCHAR*, int command, uint32_t, ReportOptions& options) {
    options.daily = 1;
    return command == CommandTime;
}

const Modifier kModifiers[] = {
    {"/file", 1, 1, readFile, "the path of a saved event log (.evt or .evtx)"},
    {"/since", 1, 0, readSince, kWhen},
    {"/until", 1, 0, readUntil, kWhen},
    {"/user", 1, 0, readUser, "a name: DOMAIN\\USER or USER, with * and ? as in file names"},
    {"/computer", 1, 0, readComputer, "a computer's name, with * and ? as in file names"},
    {"/format", 1, 0, readFormat, "text, csv or json"},
    {"/daily", 0, 0, readDaily, "to follow /time, without a value"},
};
const size_t kModifierCount = sizeof kModifiers / sizeof kModifiers[0];

// The modifier argument names, and where its value starts (after the colon; none without).
const Modifier* modifierOf(const char* argument, size_t* valueAt) {
    size_t length = 0;
    while (argument[length] && argument[length] != ':')
        ++length;
    for (const Modifier& modifier : kModifiers) {
        size_t i = 0;
        while (i < length && modifier.name[i] && lowerAscii(argument[i]) == modifier.name[i])
            ++i;
        if (i == length && !modifier.name[i]) {
            *valueAt = argument[length] ? length + 1 : 0;
            return &modifier;
        }
    }
    return nullptr;
}

int fail(ModifierError* error, const char* modifier, const char* expected) {
    error->modifier = modifier;
    error->expected = expected;
    return ModifiersWrong;
}

} // namespace

int readWhen(const WCHAR* text, uint32_t now, int64_t* moment) {
    int64_t value = 0;
    if (!readMoment(text, now, &value) || value < 0 || value > UINT32_MAX)
        return 0;
    *moment = value;
    return 1;
}

int readModifiers(int command, int argc, char** argv, const std::vector<WString>& wide,
                  uint32_t now, ReportOptions* options, ModifierError* error) {
    size_t valueAt = 0;
    for (int i = 2; i < argc; ++i)
        if (!modifierOf(argv[i], &valueAt)) {
            error->word = i;
            return ModifiersNone;
        }
    int seen[kModifierCount] = {};
    for (int i = 2; i < argc; ++i) {
        const Modifier* modifier = modifierOf(argv[i], &valueAt);
        int& count = seen[modifier - kModifiers];
        if (count++ && !modifier->repeats)
            return fail(error, modifier->name, "at most once");
        // The value from the wide argument, past the same ASCII name and colon.
        const WCHAR* value =
            valueAt && static_cast<size_t>(i) < wide.size() && wide[i].size() > valueAt
                ? wide[i].c_str() + valueAt
                : WSTR("");
        if ((valueAt != 0) != (modifier->takesValue != 0) ||
            !modifier->read(value, command, now, *options)) {
            WhenText when;
            int outOfRange = modifier->expected == kWhen && readWhenText(value, &when);
            return fail(error, modifier->name, outOfRange ? kWhenRange : modifier->expected);
        }
    }
    if (options->since >= options->until)
        return fail(error, "/until", "a time later than /since");
    return ModifiersRead;
}
