// The built programs running at the same time on one root (Linux).
#include "eventlog/event_kind.h"
#include "eventlog/event_log_reader.h"
#include "wsxlum/evt_record.h"
#include "formats/evt/evt_writer.h"
#include "support/posix/drain.h"
#include "support/support.h"

#include <fcntl.h>
#include <csignal>
#include <fstream>
#include <regex>
#include <set>
#include <sys/types.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const WCHAR kVelmor[] = WSTR("System\\CurrentControlSet\\Control\\Velmor");

// Starts a program with LC_ALL=C and TZ=UTC; its standard output goes to outFd (or nowhere).
pid_t start(std::vector<std::string> args, int outFd = -1) {
    pid_t pid = fork();
    if (pid == 0) {
        int sink = outFd >= 0 ? outFd : open("/dev/null", O_WRONLY);
        dup2(sink, 1);
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 2);
        setenv("LC_ALL", "C", 1);
        setenv("TZ", "UTC", 1);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int finish(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string output(const std::vector<std::string>& args, int* exitCode) {
    int fds[2];
    if (pipe(fds) != 0)
        return "";
    pid_t pid = start(args, fds[1]);
    close(fds[1]);
    std::string out = drain(fds[0]);
    *exitCode = finish(pid);
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

void enableAuditing() {
    ASSERT_EQ(createKey(kVelmor), ERROR_SUCCESS);
    ASSERT_EQ(setValue(kVelmor, WSTR("wsxlumEvent"), REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);
}

// A walk that has ended holds up no writer while its handle stays open, the way a report paged
// through less keeps it: a handle read to the end of the log, and a reader whose walk a
// malformed record stopped before the end. The writer must finish meanwhile; the wait is long
// enough that only a writer that blocks runs out of it.
TEST(Concurrency, AWriterDoesNotWaitOnAFinishedWalk) {
    Sandbox sandbox;
    const std::string log = sandbox.root() + "/eventlog/Application.evt";
    EvtRecordFields malformed = sessionRecord(Logon, 150, 1, u"s\\D\\bad");
    malformed.data.back() = 1; // the names text no longer ends
    ASSERT_TRUE(
        appendEvtRecords(log, {sessionRecord(Reboot, 100), malformed, sessionRecord(Reboot, 200)},
                         0x10000, nullptr));
    auto writerFinishes = [&] {
        pid_t writer = start({EVTUTIL_BINARY, "reboot", log, "1588291200"});
        for (int tick = 0; tick < 600; ++tick) {
            int status = 0;
            if (waitpid(writer, &status, WNOHANG) == writer)
                return WIFEXITED(status) && WEXITSTATUS(status) == 0;
            usleep(50000);
        }
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        return false;
    };
    {
        HANDLE handle = OpenEventLogW(nullptr, WSTR("wsxlum"));
        ASSERT_NE(handle, nullptr);
        std::vector<uint8_t> buffer(64 << 10);
        DWORD read = 0, needed = 0;
        while (ReadEventLogW(handle, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0,
                             buffer.data(), static_cast<DWORD>(buffer.size()), &read, &needed)) {
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
        EXPECT_TRUE(writerFinishes()) << "a handle read to its end";
        CloseEventLog(handle);
    }
    {
        EventLogReader reader(WSTR("wsxlum"));
        while (reader.readNext()) {
        }
        EXPECT_EQ(reader.walkEnd(), WalkMalformed);
        EXPECT_TRUE(writerFinishes()) << "a reader stopped by a malformed record";
    }
}

TEST(Concurrency, ReportsSeeWholeSnapshotsWhileAWriterAppends) {
    Sandbox sandbox;
    enableAuditing();
    const std::string log = sandbox.root() + "/eventlog/Application.evt";
    const int kRecords = 240;
    pid_t writer = fork();
    if (writer == 0) {
        int failures = 0;
        for (int i = 0; i < kRecords; ++i) {
            std::string time = std::to_string(1588291200 + 10 * i);
            std::string session = std::to_string(i / 2 % 7);
            std::string names = "rdp#" + session + "\\DOM\\user" + std::to_string(i / 2 % 5);
            std::vector<std::string> args =
                i % 40 == 39
                    ? std::vector<std::string>{EVTUTIL_BINARY, "reboot", log, time}
                    : std::vector<std::string>{
                          EVTUTIL_BINARY, i % 2 ? "logoff" : "logon", log, time, session, names};
            failures += finish(start(args)) != 0;
        }
        _exit(failures ? 1 : 0);
    }
    std::vector<std::string> lists, times;
    int failures = 0;
    for (int run = 0; run < 1000; ++run) {
        int rc = 0;
        (run % 2 ? times : lists)
            .push_back(output({VLMAUDIT_BINARY, run % 2 ? "/time" : "/list"}, &rc));
        failures += rc != 0;
        if (run >= 40 && waitpid(writer, nullptr, WNOHANG) != 0)
            break;
    }
    EXPECT_EQ(finish(writer), 0);
    EXPECT_EQ(failures, 0);
    int rc = 0;
    std::vector<std::string> final = lines(output({VLMAUDIT_BINARY, "/list"}, &rc));
    ASSERT_EQ(final.size(), static_cast<size_t>(kRecords));
    // Records are appended in time order: a snapshot of N records lists the first N lines.
    std::set<size_t> sizes;
    for (const std::string& list : lists) {
        std::vector<std::string> seen = lines(list);
        ASSERT_LE(seen.size(), final.size());
        EXPECT_TRUE(std::equal(seen.begin(), seen.end(), final.begin())) << list;
        sizes.insert(seen.size());
    }
    const std::regex timeLine("User: DOM\\\\user[0-4]|   rdp#[0-6] +[0-6] LOGON:\\S+ \\S+ "
                              "(LOGOFF|REBOOT|CURTM |LOGON ):\\S+ \\S+ Total:\\d+:\\d\\d:\\d\\d|"
                              "   Total time=\\d+:\\d\\d:\\d\\d|");
    for (const std::string& report : times)
        for (const std::string& line : lines(report))
            EXPECT_TRUE(std::regex_match(line, timeLine)) << line;
    std::cout << lists.size() << " /list and " << times.size() << " /time runs saw " << sizes.size()
              << " different snapshots of " << kRecords << " appends\n";
    EXPECT_GT(sizes.size(), 2u) << "the reports ran while the writer appended";
}

// Another process, heedless of the lock, cuts the log short and puts it back while reports run.
TEST(Concurrency, ReportsSurviveALogCutShortUnderThem) {
    Sandbox sandbox;
    enableAuditing();
    const std::string log = sandbox.root() + "/eventlog/Application.evt";
    std::string batch;
    for (int i = 0; i < 300; ++i)
        batch += (i % 2 ? "logoff " : "logon ") + std::to_string(1588291200 + i) + " " +
                 std::to_string(i / 2 % 9) + " rdp#1\\DOM\\user" + std::to_string(i % 4) + "\n";
    FILE* writer = popen((std::string(EVTUTIL_BINARY) + " batch " + log).c_str(), "w");
    ASSERT_NE(writer, nullptr);
    fputs(batch.c_str(), writer);
    ASSERT_EQ(pclose(writer), 0);
    const std::string whole = readFile(log);
    pid_t cutter = fork();
    if (cutter == 0) {
        for (unsigned i = 0;; ++i) { // until stopped
            if (truncate(log.c_str(), static_cast<off_t>((i * 7919u) % whole.size())) != 0)
                _exit(1);
            FILE* f = fopen(log.c_str(), "r+b");
            if (!f)
                _exit(1);
            fwrite(whole.data(), 1, whole.size(), f);
            fclose(f);
        }
    }
    const std::regex listLine("DOM\\\\user[0-3] +rdp#1 +LOG(ON|OFF) +[0-8]   \\S+ \\S+");
    const int kRuns = 60;
    int failures = 0;
    std::set<size_t> sizes;
    for (int run = 0; run < kRuns; ++run) {
        int rc = 0;
        std::vector<std::string> seen = lines(output({VLMAUDIT_BINARY, "/list"}, &rc));
        failures += rc != 0 && rc != 1; // a log cut short may end the report early, and says so
        for (const std::string& line : seen)
            EXPECT_TRUE(std::regex_match(line, listLine)) << line;
        sizes.insert(seen.size());
    }
    kill(cutter, SIGKILL);
    waitpid(cutter, nullptr, 0);
    EXPECT_EQ(failures, 0);
    std::cout << kRuns << " /list runs while the log was cut short and restored: " << sizes.size()
              << " different outcomes, from " << *sizes.begin() << " to " << *sizes.rbegin()
              << " of 300 records\n";
    // Whole again, the log reads in full.
    std::ofstream(log, std::ios::binary) << whole;
    int rc = 0;
    EXPECT_EQ(lines(output({VLMAUDIT_BINARY, "/list"}, &rc)).size(), 300u);
}

TEST(Concurrency, OnAndOffProcessesLoseNoOtherValue) {
    Sandbox sandbox;
    enableAuditing();
    const int kRounds = 25;
    std::vector<pid_t> switchers;
    for (int p = 0; p < 3; ++p) {
        pid_t pid = fork();
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < kRounds; ++i)
                failures += finish(start({VLMAUDIT_BINARY, (i + p) % 2 ? "/off" : "/on"})) != 0;
            _exit(failures ? 1 : 0);
        }
        switchers.push_back(pid);
    }
    for (int i = 0; i < 3 * kRounds; ++i) {
        WString name = utf8ToUtf16("other" + std::to_string(i));
        ASSERT_EQ(setValue(kVelmor, name.c_str(), REG_DWORD, dwordBytes(i)), ERROR_SUCCESS);
    }
    for (pid_t pid : switchers)
        EXPECT_EQ(finish(pid), 0);
    for (int i = 0; i < 3 * kRounds; ++i) {
        DWORD type;
        std::vector<BYTE> data;
        WString name = utf8ToUtf16("other" + std::to_string(i));
        EXPECT_EQ(queryValue(kVelmor, name.c_str(), &type, &data), ERROR_SUCCESS) << i;
        EXPECT_EQ(data, dwordBytes(i));
    }
    DWORD type;
    std::vector<BYTE> flag;
    ASSERT_EQ(queryValue(kVelmor, WSTR("wsxlumEvent"), &type, &flag), ERROR_SUCCESS);
    EXPECT_TRUE(flag == dwordBytes(0) || flag == dwordBytes(1));
    std::cout << 3 * kRounds << " /on and /off runs beside " << 3 * kRounds
              << " writes of other values: none lost\n";
}

} // namespace
