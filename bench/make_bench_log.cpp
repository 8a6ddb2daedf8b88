// Writes one benchmark workload: as a .evt log of wsxlum records for vlmaudit (and, when asked,
// the same records as a .evtx log), and as utmpdump text of the same sessions for the Unix
// peers (utmpdump -r turns it into wtmp). Shapes:
//   turns   users log on and off in turn, each in a session number of its own, a second or
//           three apart;
//   random  session numbers drawn up to 1,000,000, up to 50 sessions open at once; once any is
//           open each record is a logoff with probability 1/2; 1 to 30 s between records.
// A reboot every REBOOT_EVERY records (default 1,000) ends every open session.
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

// Both forms of the workload, record by record.
class Workload {
  public:
    Workload(FILE* wtmp) : wtmp_(wtmp) {}
    std::vector<EvtRecordFields> records;

    void reboot(uint32_t time) {
        records.push_back(sessionRecord(kEvtReboot, time));
        std::fprintf(wtmp_, "[2] [00000] [~~  ] [reboot  ] [~           ] [%-20s] [%-15s] [%s]\n",
                     "bench", "0.0.0.0", isoTime(time).c_str());
    }
    void session(uint32_t kind, uint32_t time, uint32_t user, uint32_t session) {
        char name[64], line[32], id[8], userName[16];
        std::snprintf(name, sizeof name, "rdp#%u\\BENCH\\user%04u", session, user);
        std::snprintf(line, sizeof line, "ts/%u", session);
        std::snprintf(id, sizeof id, "%x", session & 0xFFFF);
        std::snprintf(userName, sizeof userName, "user%04u", user);
        records.push_back(sessionRecord(kind, time, session, toU16(name)));
        std::fprintf(wtmp_, "[%d] [%05u] [%-4s] [%-8s] [%-12s] [%-20s] [%-15s] [%s]\n",
                     kind == kEvtLogon ? 7 : 8, 1000 + session % 90000, id,
                     kind == kEvtLogon ? userName : "", line, "BENCH", "0.0.0.0",
                     isoTime(time).c_str());
    }

  private:
    FILE* wtmp_;
};

void turns(Workload& w, uint32_t count, uint32_t users, uint32_t rebootEvery) {
    std::vector<int> open(users, 0);
    uint32_t time = 1588291200;
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

void randomSessions(Workload& w, uint32_t count, uint32_t users, uint32_t rebootEvery) {
    std::mt19937 random(1000003);
    std::vector<Open> open;
    uint32_t time = 1588291200;
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

} // namespace

int main(int argc, char** argv) {
    if (argc < 6 || argc > 8) {
        std::fprintf(stderr, "usage: make_bench_log turns|random RECORDS USERS LOG.evt WTMP.txt "
                             "[LOG.evtx|-] [REBOOT_EVERY]\n");
        return 2;
    }
    const std::string shape = argv[1];
    const uint32_t count = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const uint32_t users = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    const uint32_t rebootEvery =
        argc > 7 ? static_cast<uint32_t>(std::strtoul(argv[7], nullptr, 10)) : 1000;
    FILE* wtmp = std::fopen(argv[5], "w");
    if (!wtmp || users == 0 || rebootEvery == 0 || (shape != "turns" && shape != "random"))
        return 1;
    Workload w(wtmp);
    if (shape == "turns")
        turns(w, count, users, rebootEvery);
    else
        randomSessions(w, count, users, rebootEvery);
    std::fclose(wtmp);
    std::string error;
    std::remove(argv[4]);
    for (size_t at = 0; at < w.records.size(); at += 65536) {
        std::vector<EvtRecordFields> batch(
            w.records.begin() + static_cast<long>(at),
            w.records.begin() + static_cast<long>(std::min(at + 65536, w.records.size())));
        if (!appendEvtRecords(argv[4], batch, 0xFFFF0000u, &error)) {
            std::fprintf(stderr, "make_bench_log: %s\n", error.c_str());
            return 1;
        }
    }
    if (argc > 6 && std::strcmp(argv[6], "-") != 0 &&
        (std::remove(argv[6]), !writeEvtxFile(argv[6], w.records, &error))) {
        std::fprintf(stderr, "make_bench_log: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
