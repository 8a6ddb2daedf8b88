// Writes one benchmark workload: as a .evt log of wsxlum records for vlmaudit (and, when asked,
// the same records as a .evtx log), and as utmpdump text of the same sessions for the Unix
// peers (utmpdump -r turns it into wtmp).
// Users log on and off in turn, each in a session number of its own; one record in a thousand
// is a reboot, which ends every open session.
#include "evt_writer.h"
#include "evtx_writer.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
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

} // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: make_bench_log RECORDS USERS LOG.evt WTMP.txt [LOG.evtx]\n");
        return 2;
    }
    std::vector<EvtRecordFields> all;
    const uint32_t records = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const uint32_t users = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    FILE* wtmp = std::fopen(argv[4], "w");
    if (!wtmp || users == 0)
        return 1;
    std::remove(argv[3]);
    std::vector<int> open(users, 0);
    std::vector<EvtRecordFields> batch;
    uint32_t time = 1588291200;
    for (uint32_t i = 0; i < records; ++i) {
        time += 1 + i % 3;
        if (i % 1000 == 999) {
            batch.push_back(sessionRecord(kEvtReboot, time));
            std::fprintf(wtmp,
                         "[2] [00000] [~~  ] [reboot  ] [~           ] [%-20s] [%-15s] [%s]\n",
                         "bench", "0.0.0.0", isoTime(time).c_str());
            std::fill(open.begin(), open.end(), 0);
        } else {
            uint32_t user = static_cast<uint32_t>((i * 2654435761u) % users);
            uint32_t session = user + 1;
            char name[64], line[32], id[8];
            std::snprintf(name, sizeof name, "rdp#%u\\BENCH\\user%04u", session, user);
            std::snprintf(line, sizeof line, "ts/%u", session);
            std::snprintf(id, sizeof id, "%x", session & 0xFFFF);
            uint32_t kind = open[user] ? kEvtLogoff : kEvtLogon;
            batch.push_back(sessionRecord(kind, time, session, toU16(name)));
            char userName[16];
            std::snprintf(userName, sizeof userName, "user%04u", user);
            std::fprintf(wtmp, "[%d] [%05u] [%-4s] [%-8s] [%-12s] [%-20s] [%-15s] [%s]\n",
                         kind == kEvtLogon ? 7 : 8, 1000 + session, id,
                         kind == kEvtLogon ? userName : "", line, "BENCH", "0.0.0.0",
                         isoTime(time).c_str());
            open[user] = !open[user];
        }
        if (batch.size() == 65536 || i + 1 == records) {
            if (argc == 6)
                all.insert(all.end(), batch.begin(), batch.end());
            std::string error;
            if (!appendEvtRecords(argv[3], batch, 0xFFFF0000u, &error)) {
                std::fprintf(stderr, "make_bench_log: %s\n", error.c_str());
                return 1;
            }
            batch.clear();
        }
    }
    std::fclose(wtmp);
    std::string error;
    if (argc == 6 && (std::remove(argv[5]), !writeEvtxFile(argv[5], all, &error))) {
        std::fprintf(stderr, "make_bench_log: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
