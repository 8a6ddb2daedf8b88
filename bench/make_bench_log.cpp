// Writes one benchmark workload: as a .evt log of wsxlum records for vlmaudit (and, when asked,
// the same records as a .evtx log), and as utmpdump text of the same sessions for the Unix
// peers (utmpdump -r turns it into wtmp). Shapes:
//   turns   users log on and off in turn, each in a session number of its own, a second or
//           three apart;
//   random  session numbers drawn up to 1,000,000, up to 50 sessions open at once; once any is
//           open each record is a logoff with probability 1/2; 1 to 30 s between records.
// A reboot every REBOOT_EVERY records (default 1,000) ends every open session.
// With COMPUTERS (default 1) the records are spread over that many computers, as a collector's
// log holds them: each computer has a share of the users and the records, numbers its sessions
// on its own (so that they collide from one computer to the next) and reboots on its own, and
// their records are interleaved in time. With PARTS (default 1) the logs are written as that many
// logs in a row, as a server's archives are, each a log of its own whose record numbers go on
// from the last: LOG.evt as LOG-1.evt to LOG-PARTS.evt, and the same for LOG.evtx.
#include "formats/evt/evt_writer.h"
#include "formats/evtx/evtx_writer.h"
#include "wsxlum/evt_record.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

std::string isoTime(uint32_t seconds) {
    time_t t = seconds;
    struct tm tm;
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S,000000+00:00", &tm);
    return buf;
}

struct Open {
    uint32_t user, session;
};

// Both forms of the workload, record by record: the records, and the wtmp line of each.
class Workload {
  public:
    // The records of computer (its name; empty for the records' own), its users numbered from
    // firstUser.
    Workload(const std::u16string& computer, uint32_t firstUser)
        : computer_(computer), firstUser_(firstUser) {}
    std::vector<EvtRecordFields> records;
    std::vector<std::string> wtmp;

    void reboot(uint32_t time) {
        add(sessionRecord(kEvtReboot, time));
        char line[160];
        std::snprintf(line, sizeof line,
                      "[2] [00000] [~~  ] [reboot  ] [~           ] [%-20s] [%-15s] [%s]\n",
                      "bench", "0.0.0.0", isoTime(time).c_str());
        wtmp.push_back(line);
    }
    void session(uint32_t kind, uint32_t time, uint32_t user, uint32_t session) {
        user += firstUser_;
        char name[64], line[32], id[8], userName[16], text[200];
        std::snprintf(name, sizeof name, "rdp#%u\\BENCH\\user%04u", session, user);
        std::snprintf(line, sizeof line, "ts/%u", session);
        std::snprintf(id, sizeof id, "%x", session & 0xFFFF);
        std::snprintf(userName, sizeof userName, "user%04u", user);
        add(sessionRecord(kind, time, session, toU16(name)));
        std::snprintf(text, sizeof text, "[%d] [%05u] [%-4s] [%-8s] [%-12s] [%-20s] [%-15s] [%s]\n",
                      kind == kEvtLogon ? 7 : 8, 1000 + session % 90000, id,
                      kind == kEvtLogon ? userName : "", line, "BENCH", "0.0.0.0",
                      isoTime(time).c_str());
        wtmp.push_back(text);
    }

  private:
    void add(EvtRecordFields fields) {
        if (!computer_.empty())
            fields.computer = computer_;
        records.push_back(std::move(fields));
    }
    std::u16string computer_;
    uint32_t firstUser_;
};

void turns(Workload& w, uint32_t count, uint32_t users, uint32_t rebootEvery, uint32_t time) {
    std::vector<int> open(users, 0);
    for (uint32_t i = 0; i < count; ++i) {
        time += 1 + i % 3;
        if (i % rebootEvery == rebootEvery - 1) {
            w.reboot(time);
            std::fill(open.begin(), open.end(), 0);
            continue;
        }
        uint32_t user = static_cast<uint32_t>((i * 2654435761u) % users);
        w.session(open[user] ? kEvtLogoff : kEvtLogon, time, user, user + 1);
        open[user] = !open[user];
    }
}

void randomSessions(Workload& w, uint32_t count, uint32_t users, uint32_t rebootEvery,
                    uint32_t time, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<Open> open;
    for (uint32_t i = 0; i < count; ++i) {
        time += 1 + random() % 30;
        if (i % rebootEvery == rebootEvery - 1) {
            w.reboot(time);
            open.clear();
            continue;
        }
        if (!open.empty() && (open.size() == 50 || random() % 2 == 0)) {
            size_t k = random() % open.size();
            w.session(kEvtLogoff, time, open[k].user, open[k].session);
            open[k] = open.back();
            open.pop_back();
            continue;
        }
        Open session = {static_cast<uint32_t>(random() % users), 0};
        do
            session.session = 1 + random() % 1000000;
        while (std::any_of(open.begin(), open.end(),
                           [&](const Open& o) { return o.session == session.session; }));
        w.session(kEvtLogon, time, session.user, session.session);
        open.push_back(session);
    }
}

// The records of every computer, each its share of count records and users, interleaved in
// time (a computer's records before another's of the same second, in the computers' order).
Workload collect(const std::string& shape, uint32_t count, uint32_t users, uint32_t rebootEvery,
                 uint32_t computers) {
    std::vector<Workload> each;
    for (uint32_t c = 0; c < computers; ++c) {
        char name[32] = "";
        if (computers > 1)
            std::snprintf(name, sizeof name, "SRV%03u", c + 1);
        const uint32_t firstUser = static_cast<uint32_t>(uint64_t(c) * users / computers);
        const uint32_t lastUser = static_cast<uint32_t>(uint64_t(c + 1) * users / computers);
        const uint32_t share = lastUser > firstUser ? lastUser - firstUser : 1;
        const uint32_t records = count / computers + (c < count % computers);
        each.emplace_back(toU16(name), firstUser);
        // Each computer a second after the one before: their records interleave.
        const uint32_t start = 1588291200 + c;
        if (shape == "turns")
            turns(each.back(), records, share, rebootEvery, start);
        else
            randomSessions(each.back(), records, share, rebootEvery, start, 1000003 + c);
    }
    if (computers == 1)
        return std::move(each[0]);
    struct At {
        uint32_t time, computer, index;
    };
    std::vector<At> order;
    order.reserve(count);
    for (uint32_t c = 0; c < computers; ++c)
        for (uint32_t i = 0; i < each[c].records.size(); ++i)
            order.push_back({each[c].records[i].timeGenerated, c, i});
    std::stable_sort(order.begin(), order.end(),
                     [](const At& a, const At& b) { return a.time < b.time; });
    Workload all(u"", 0);
    all.records.reserve(order.size());
    all.wtmp.reserve(order.size());
    for (const At& at : order) {
        all.records.push_back(std::move(each[at.computer].records[at.index]));
        all.wtmp.push_back(std::move(each[at.computer].wtmp[at.index]));
    }
    return all;
}

// The name of part `part` of a log of `parts`: the log's own name when there is one part.
std::string partName(const std::string& log, uint32_t part, uint32_t parts) {
    if (parts == 1)
        return log;
    const size_t dot = log.rfind('.');
    const size_t stem = dot == std::string::npos ? log.size() : dot;
    return log.substr(0, stem) + "-" + std::to_string(part + 1) + log.substr(stem);
}

int fail(const std::string& error) {
    std::fprintf(stderr, "make_bench_log: %s\n", error.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 6 || argc > 10) {
        std::fprintf(stderr, "usage: make_bench_log turns|random RECORDS USERS LOG.evt WTMP.txt "
                             "[LOG.evtx|-] [REBOOT_EVERY] [COMPUTERS] [PARTS]\n");
        return 2;
    }
    const std::string shape = argv[1];
    const uint32_t count = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const uint32_t users = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    const uint32_t rebootEvery =
        argc > 7 ? static_cast<uint32_t>(std::strtoul(argv[7], nullptr, 10)) : 1000;
    const uint32_t computers =
        argc > 8 ? static_cast<uint32_t>(std::strtoul(argv[8], nullptr, 10)) : 1;
    const uint32_t parts = argc > 9 ? static_cast<uint32_t>(std::strtoul(argv[9], nullptr, 10)) : 1;
    FILE* wtmp = std::fopen(argv[5], "w");
    if (!wtmp || users == 0 || rebootEvery == 0 || computers == 0 || parts == 0 ||
        (shape != "turns" && shape != "random"))
        return 1;
    Workload w = collect(shape, count, users, rebootEvery, computers);
    for (const std::string& line : w.wtmp)
        std::fputs(line.c_str(), wtmp);
    std::fclose(wtmp);
    std::string error;
    const int evtx = argc > 6 && std::strcmp(argv[6], "-") != 0;
    for (uint32_t part = 0; part < parts; ++part) {
        const size_t from = w.records.size() * part / parts;
        const size_t to = w.records.size() * (part + 1) / parts;
        const uint32_t first = static_cast<uint32_t>(from + 1);
        const std::string log = partName(argv[4], part, parts);
        std::remove(log.c_str());
        for (size_t at = from; at < to; at += 65536) {
            std::vector<EvtRecordFields> batch(w.records.begin() + static_cast<long>(at),
                                               w.records.begin() +
                                                   static_cast<long>(std::min(at + 65536, to)));
            if (!appendEvtRecords(log, batch, 0xFFFF0000u, &error, first))
                return fail(error);
        }
        if (!evtx)
            continue;
        const std::string newLog = partName(argv[6], part, parts);
        std::remove(newLog.c_str());
        std::vector<EvtRecordFields> slice;
        if (parts > 1)
            slice.assign(w.records.begin() + static_cast<long>(from),
                         w.records.begin() + static_cast<long>(to));
        if (!writeEvtxFile(newLog, parts > 1 ? slice : w.records, &error, first))
            return fail(error);
    }
    return 0;
}
