// evtutil: writes and lists legacy Windows event logs (.evt) on Linux. It stands in for the
// component that logs the wsxlum records and for the event log service's writer.
#include "formats/evt/evt_file.h"
#include "formats/evt/evt_writer.h"
#include "formats/evtx/evtx_file.h"
#include "formats/evtx/evtx_writer.h"
#include "formats/file_io.h"
#include "formats/little_endian.h"
#include "wsxlum/evt_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

const char kUsage[] =
    "Usage: evtutil COMMAND LOG [options]\n"
    "  create LOG [--max-size BYTES] [--first-record N]   create an empty log\n"
    "  logon  LOG TIME SESSION 'NAME\\DOMAIN\\USER'   append a wsxlum logon\n"
    "  logoff LOG TIME SESSION 'NAME\\DOMAIN\\USER'   append a wsxlum logoff\n"
    "  reboot LOG TIME                        append a wsxlum reboot\n"
    "  event  LOG SOURCE ID TIME [HEXDATA]    append a record of any source\n"
    "  batch  LOG [--max-size BYTES] [--first-record N]   append the records read from\n"
    "                                         standard input, one per line in the forms above\n"
    "                                         without LOG; a line 'computer NAME' sets the\n"
    "                                         computer of the lines after it\n"
    "  list   LOG [--show-computer]           print the records, newest first\n"
    "  convert LOG NEW.evtx                   write the records of LOG, oldest first, as .evtx\n"
    "TIME is seconds since 1970-01-01 UTC. A new log has a maximum size of 16 MiB unless\n"
    "--max-size says otherwise; a full log overwrites its oldest records. Its first record is\n"
    "numbered 1 unless --first-record says otherwise; an existing .evt log goes on with its own\n"
    "numbers. --computer NAME, after LOG, gives the records written the computer NAME (VLMHOST\n"
    "unless said); --show-computer lists each record's computer after its source.\n"
    "A LOG named *.evtx is written whole, as a new file, from the records that create, batch\n"
    "or a single record give; list reads .evt and .evtx files alike.\n";

int parseNumber(const std::string& text, uint32_t* out) {
    if (text.empty())
        return 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (*end != 0 || v > 0xFFFFFFFFull || text[0] == '-')
        return 0;
    *out = static_cast<uint32_t>(v);
    return 1;
}

int parseHex(const std::string& text, std::vector<uint8_t>* out) {
    if (text.size() % 2 != 0)
        return 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        uint32_t byte;
        if (!parseNumber("0x" + text.substr(i, 2), &byte))
            return 0;
        out->push_back(static_cast<uint8_t>(byte));
    }
    return 1;
}

// One record from words: logon/logoff TIME SESSION NAMES, reboot TIME, event SOURCE ID TIME [HEX].
int parseRecordWords(const std::vector<std::string>& w, EvtRecordFields* fields) {
    uint32_t time, session, id;
    if (w.empty())
        return 0;
    if ((w[0] == "logon" || w[0] == "logoff") && w.size() == 4 && parseNumber(w[1], &time) &&
        parseNumber(w[2], &session)) {
        *fields =
            sessionRecord(w[0] == "logon" ? kEvtLogon : kEvtLogoff, time, session, toU16(w[3]));
        return 1;
    }
    if (w[0] == "reboot" && w.size() == 2 && parseNumber(w[1], &time)) {
        *fields = sessionRecord(kEvtReboot, time);
        return 1;
    }
    if (w[0] == "event" && (w.size() == 4 || w.size() == 5) && parseNumber(w[2], &id) &&
        parseNumber(w[3], &time)) {
        *fields = EvtRecordFields();
        fields->source = toU16(w[1]);
        fields->eventId = id;
        fields->timeGenerated = time;
        return w.size() == 4 || parseHex(w[4], &fields->data);
    }
    return 0;
}

// Words of a batch line: separated by blanks; the last word of a logon or logoff line is the
// rest of the line, so names may hold spaces.
std::vector<std::string> splitLine(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word) {
        words.push_back(word);
        if ((words[0] == "logon" || words[0] == "logoff") && words.size() == 3) {
            std::string rest;
            std::getline(in, rest);
            size_t start = rest.find_first_not_of(" \t");
            if (start != std::string::npos)
                words.push_back(rest.substr(start));
            break;
        }
    }
    return words;
}

std::string utcText(uint32_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm tm;
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

std::u16string stringAt(const std::vector<uint8_t>& r, size_t offset, size_t end) {
    std::u16string s;
    for (size_t i = offset; i + 1 < end; i += 2) {
        char16_t c = static_cast<char16_t>(readLe16(&r[i]));
        if (c == 0)
            break;
        s += c;
    }
    return s;
}

// One line a record: number, time, event ID, source (and computer, with showComputer), and the
// session or the data's size.
void printRecord(const std::vector<uint8_t>& r, int showComputer) {
    const std::u16string source16 = stringAt(r, 56, r.size());
    std::string source = fromU16(source16);
    uint32_t dataLength = readLe32(&r[48]), dataOffset = readLe32(&r[52]);
    std::printf("%u\t%s\t%u\t%s", readLe32(&r[8]), utcText(readLe32(&r[12])).c_str(),
                readLe32(&r[20]), source.c_str());
    if (showComputer)
        std::printf("\t%s", fromU16(stringAt(r, 56 + 2 * source16.size() + 2, r.size())).c_str());
    if (dataLength >= 10 && dataOffset <= r.size() && r.size() - dataOffset >= dataLength &&
        readLe32(&r[dataOffset]) == dataLength && source == "wsxlum")
        std::printf("\t%u\t%s", readLe32(&r[dataOffset + 4]),
                    fromU16(stringAt(r, dataOffset + 8, dataOffset + dataLength)).c_str());
    else if (dataLength > 0)
        std::printf("\t%u bytes of data", dataLength);
    std::printf("\n");
}

// The records of a .evtx file, newest first, read a chunk at a time: a sparse file of any size
// costs only its chunks.
int listEvtx(const std::string& path, int fd, int showComputer) {
    EvtxFile log;
    if (!log.open(fd)) {
        std::fprintf(stderr, "evtutil: %s: cannot be read\n", path.c_str());
        return 1;
    }
    EvtxCursor cursor;
    std::vector<uint8_t> record;
    WalkStep got;
    while ((got = log.next(cursor, record)) == WalkStep::Record)
        printRecord(record, showComputer);
    if (got == WalkStep::Broken) {
        std::fprintf(stderr, "evtutil: %s: a record after %llu cannot be decoded; the walk ends\n",
                     path.c_str(), static_cast<unsigned long long>(cursor.lastId));
        return 1;
    }
    const std::string damage = log.damageText();
    if (!damage.empty()) {
        std::fprintf(stderr,
                     "evtutil: %s: the log is damaged (%s); every record that could "
                     "be read is listed\n",
                     path.c_str(), damage.c_str());
        return 1;
    }
    return 0;
}

// Prints the records of a .evt or .evtx file, newest first; 1 when it cannot be read whole.
int listLog(const std::string& path, int showComputer) {
    int fd = openRegularFile(path, O_RDONLY);
    uint8_t signature[8];
    if (fd >= 0 && pread(fd, signature, sizeof signature, 0) == sizeof signature &&
        isEvtxSignature(signature, sizeof signature)) {
        int status = listEvtx(path, fd, showComputer);
        close(fd);
        return status;
    }
    std::vector<uint8_t> bytes;
    int ok = fd >= 0 && readWholeFile(fd, bytes);
    if (fd >= 0)
        close(fd);
    if (!ok) {
        std::fprintf(stderr, "evtutil: %s: cannot be read\n", path.c_str());
        return 1;
    }
    EvtFile log;
    if (!log.load(std::move(bytes))) {
        std::fprintf(stderr, "evtutil: %s: not an event log\n", path.c_str());
        return 1;
    }
    for (size_t i = 0; i < log.recordCount(); ++i) {
        std::vector<uint8_t> r(log.recordLength(i));
        log.copyRecord(i, r.data());
        printRecord(r, showComputer);
    }
    if (log.corrupt()) {
        std::fprintf(stderr, "evtutil: %s: a corrupt record ends the walk\n", path.c_str());
        return 1;
    }
    return 0;
}

// The records of a .evt log, oldest first, written as a new .evtx file: the same records, with
// the same numbers, in the other format, for logs that wrapped as Windows wraps them.
int convertLog(const std::string& from, const std::string& to) {
    int fd = openRegularFile(from, O_RDONLY);
    std::vector<uint8_t> bytes;
    int ok = fd >= 0 && readWholeFile(fd, bytes);
    if (fd >= 0)
        close(fd);
    EvtFile log;
    if (!ok || !log.load(std::move(bytes)) || log.corrupt()) {
        std::fprintf(stderr, "evtutil: %s: not a readable .evt log\n", from.c_str());
        return 1;
    }
    std::vector<EvtRecordFields> records(log.recordCount());
    for (size_t i = 0; i < log.recordCount(); ++i) {
        std::vector<uint8_t> r(log.recordLength(i));
        log.copyRecord(i, r.data());
        if (!parseEvtRecord(r.data(), static_cast<uint32_t>(r.size()),
                            records[log.recordCount() - 1 - i])) {
            std::fprintf(stderr, "evtutil: %s: record %u cannot be read\n", from.c_str(),
                         readLe32(&r[8]));
            return 1;
        }
    }
    std::vector<uint8_t> oldest(log.recordCount() ? log.recordLength(log.recordCount() - 1) : 0);
    if (!oldest.empty())
        log.copyRecord(log.recordCount() - 1, oldest.data());
    std::string error;
    if (writeEvtxFile(to, records, &error, oldest.empty() ? 1 : readLe32(&oldest[8])))
        return 0;
    std::fprintf(stderr, "evtutil: %s\n", error.c_str());
    return 1;
}

int endsWith(const std::string& text, const char* suffix) {
    size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// What the options say: the size and first record's number of a new log, the records' computer.
struct Options {
    uint32_t maxSize = kDefaultEvtMaxSize;
    uint32_t firstRecord = 1;
    std::u16string computer = EvtRecordFields().computer;
    int showComputer = 0;
};

// Takes the options out of args, after the command and LOG: 0 when one is not understood.
int takeOptions(std::vector<std::string>& args, Options& options) {
    for (size_t i = 2; i < args.size();) {
        const std::string& name = args[i];
        const int valued = name == "--max-size" || name == "--first-record" || name == "--computer";
        if (name == "--show-computer") {
            options.showComputer = 1;
        } else if (!valued || i + 1 == args.size()) {
            ++i;
            continue;
        } else if (name == "--computer") {
            options.computer = toU16(args[i + 1]);
        } else if (!parseNumber(args[i + 1],
                                name == "--max-size" ? &options.maxSize : &options.firstRecord) ||
                   options.firstRecord == 0) {
            return 0;
        }
        args.erase(args.begin() + static_cast<long>(i),
                   args.begin() + static_cast<long>(i) + (valued ? 2 : 1));
    }
    return 1;
}

// Appends to a .evt log; a .evtx log is written whole from the records.
int appendOrFail(const std::string& path, const std::vector<EvtRecordFields>& records,
                 const Options& options) {
    std::string error;
    if (endsWith(path, ".evtx")
            ? writeEvtxFile(path, records, &error, options.firstRecord)
            : appendEvtRecords(path, records, options.maxSize, &error, options.firstRecord))
        return 0;
    std::fprintf(stderr, "evtutil: %s\n", error.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    if (args.size() < 2 || !takeOptions(args, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string command = args[0], path = args[1];
    if (command == "list" && args.size() == 2)
        return listLog(path, options.showComputer);
    if (command == "convert" && args.size() == 3)
        return convertLog(path, args[2]);
    if (command == "create" && args.size() == 2)
        return appendOrFail(path, {}, options);
    std::vector<EvtRecordFields> records;
    if (command == "batch" && args.size() == 2) {
        std::string line;
        std::u16string computer = options.computer;
        for (int number = 1; std::getline(std::cin, line); ++number) {
            std::vector<std::string> words = splitLine(line);
            if (words.empty() || words[0][0] == '#')
                continue;
            EvtRecordFields fields;
            if (words[0] == "computer" && words.size() == 2) {
                computer = toU16(words[1]);
                continue;
            }
            if (!parseRecordWords(words, &fields)) {
                std::fprintf(stderr, "evtutil: line %d: cannot read '%s'\n", number, line.c_str());
                return 2;
            }
            fields.computer = computer;
            records.push_back(fields);
        }
        return appendOrFail(path, records, options);
    }
    std::vector<std::string> words(args.begin(), args.end());
    words.erase(words.begin() + 1);
    EvtRecordFields fields;
    if (!parseRecordWords(words, &fields)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    fields.computer = options.computer;
    return appendOrFail(path, {fields}, options);
}
