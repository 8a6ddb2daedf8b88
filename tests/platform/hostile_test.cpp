// Files that are not what they should be, and rewrites that must keep what they do not change
// (Linux stand-in). Each run is guarded: a hang fails the test instead of stalling it.
#include "app/dispatch.h"
#include "eventlog/event_kind.h"
#include "formats/evt/evt_file.h"
#include "wsxlum/evt_record.h"
#include "formats/evt/evt_writer.h"
#include "formats/evtx/evtx_writer.h"
#include "formats/little_endian.h"
#include "support/posix/drain.h"
#include "support/support.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const WCHAR kVelmor[] = WSTR("System\\CurrentControlSet\\Control\\Velmor");

struct Outcome {
    int exitCode; // -1: killed (a hang, stopped after 10 s)
    std::string out, err;
};

// The front end in a child, its standard output into outPath (a pipe when empty).
Outcome runGuarded(std::vector<std::string> args, const char* outPath = nullptr) {
    int outPipe[2], errPipe[2];
    EXPECT_EQ(pipe(outPipe), 0);
    EXPECT_EQ(pipe(errPipe), 0);
    pid_t pid = fork();
    if (pid == 0) {
        alarm(10);
        dup2(outPath ? open(outPath, O_WRONLY) : outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        args.insert(args.begin(), "vlmaudit");
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        _exit(runCommand(static_cast<int>(argv.size()), argv.data()));
    }
    close(outPipe[1]);
    close(errPipe[1]);
    Outcome outcome;
    outcome.out = drain(outPipe[0]);
    outcome.err = drain(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

class Hostile : public testing::Test {
  public:
    void SetUp() override {
        ASSERT_EQ(createKey(kVelmor), ERROR_SUCCESS);
        ASSERT_EQ(setValue(kVelmor, WSTR("wsxlumEvent"), REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);
        mkdir((sandbox.root() + "/eventlog").c_str(), 0755);
    }
    // A fresh log, lock and hive for the next row.
    void reset() {
        rmdir(log().c_str());
        unlink(log().c_str());
        unlink((log() + "x").c_str());
        struct stat st;
        if (lstat(hive().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            unlink(hive().c_str());
            SetUp();
        }
        unlink(path("registry/.lock").c_str());
    }
    std::string path(const std::string& relative) const { return sandbox.root() + "/" + relative; }
    std::string log() const { return path("eventlog/Application.evt"); }
    std::string hive() const { return path("registry/HKEY_LOCAL_MACHINE.reg"); }
    Sandbox sandbox;
};

const char kEnabled[] = "Velmor logon auditing is currently enabled.\n";
const char kNotOpened[] =
    "vlmaudit: the event log could not be opened (access is denied); no records are shown.\n";

TEST_F(Hostile, NothingBlocksAndEveryFailureIsSaid) {
    const struct {
        const char* what;
        std::function<void(Hostile&)> setup;
        std::vector<std::string> args;
        int exitCode;
        std::string out, err;
    } rows[] = {
        {"log is a FIFO",
         [](Hostile& t) { mkfifo(t.log().c_str(), 0644); },
         {"/list"},
         1,
         "",
         kNotOpened},
        {"log is a directory",
         [](Hostile& t) { mkdir(t.log().c_str(), 0755); },
         {"/time"},
         1,
         "",
         kNotOpened},
        {"log links to /dev/zero",
         [](Hostile& t) { (void)!symlink("/dev/zero", t.log().c_str()); },
         {"/list"},
         1,
         "",
         kNotOpened},
        {"log is no event log",
         [](Hostile& t) { writeFile(t.log(), std::string(100, 'x')); },
         {"/list"},
         1,
         "",
         "vlmaudit: the event log could not be opened (the event log file is corrupt); no "
         "records are shown.\n"},
        {"a corrupt record mid-walk",
         [](Hostile& t) {
             appendEvtRecords(t.log(),
                              {sessionRecord(Reboot, 100), sessionRecord(Reboot, 200),
                               sessionRecord(Reboot, 300)},
                              0x10000, nullptr);
             std::string bytes = readFile(t.log());
             EvtFile file;
             file.load(std::vector<uint8_t>(bytes.begin(), bytes.end()));
             uint32_t middle = file.recordOffset(1);
             bytes[middle + file.recordLength(1) - 4] ^= 1; // its length, repeated, no longer is
             writeFile(t.log(), bytes);
         },
         {"/list"},
         1,
         "-\\SYSTEM                         REBOOT         01/01/70 00:05:00\n",
         "vlmaudit: reading the event log failed (the event log file is corrupt); older records "
         "are not shown.\n"},
        {"a .evtx chunk fails its checksum, yet its records decode",
         [](Hostile& t) {
             ASSERT_TRUE(writeEvtxFile(t.log() + "x", {sessionRecord(Reboot, 100)}, nullptr));
             std::string bytes = readFile(t.log() + "x");
             bytes[0x1000 + 0x200 + 16] ^= 1; // the record's written time
             writeFile(t.log() + "x", bytes);
         },
         {"/list"},
         1,
         "-\\SYSTEM                         REBOOT         01/01/70 00:01:40\n",
         "vlmaudit: the event log is damaged (chunk 1 of 1 read as far as its records decode); "
         "every record that could be read is shown.\n"},
        {"a missing log is an empty one", [](Hostile&) {}, {"/list"}, 0, "", ""},
        {"hive is a FIFO",
         [](Hostile& t) {
             unlink(t.hive().c_str());
             mkfifo(t.hive().c_str(), 0644);
         },
         {},
         0,
         "Velmor logon auditing is not currently enabled.\n",
         ""},
        {"hive is a FIFO: /off",
         [](Hostile& t) {
             unlink(t.hive().c_str());
             mkfifo(t.hive().c_str(), 0644);
         },
         {"/off"},
         1,
         "",
         "Could not disable Velmor logon auditing: access is denied.\n"},
        {"the lock links elsewhere",
         [](Hostile& t) {
             (void)!symlink(t.path("created").c_str(), t.path("registry/.lock").c_str());
         },
         {"/off"},
         1,
         "",
         "Could not disable Velmor logon auditing: access is denied.\n"},
        {"the lock is a FIFO",
         [](Hostile& t) { mkfifo(t.path("registry/.lock").c_str(), 0644); },
         {"/on"},
         1,
         "",
         "Could not register the wsxlum event source: access is denied.\n"
         "Could not enable Velmor logon auditing: access is denied.\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        reset();
        row.setup(*this);
        Outcome outcome = runGuarded(row.args);
        EXPECT_EQ(outcome.exitCode, row.exitCode);
        EXPECT_EQ(outcome.out, row.out);
        EXPECT_EQ(outcome.err, row.err);
    }
    reset();
    EXPECT_NE(access(path("created").c_str(), F_OK), 0) << "nothing was created through the lock";
    EXPECT_EQ(runGuarded({}).out, kEnabled);
}

TEST_F(Hostile, AWriteErrorOnStandardOutputIsSaid) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full here";
    appendEvtRecords(log(), {sessionRecord(Reboot, 100)}, 0x10000, nullptr);
    for (const char* option : {"/list", "/help"}) {
        Outcome outcome = runGuarded({option}, "/dev/full");
        EXPECT_EQ(outcome.exitCode, 1) << option;
        EXPECT_EQ(outcome.err, "vlmaudit: the output could not be written; it is incomplete.\n");
    }
}

TEST_F(Hostile, EvtutilListReadsOnlyRegularFiles) {
    mkfifo(path("fifo").c_str(), 0644);
    (void)!symlink("/dev/zero", path("zero").c_str());
    for (const char* name : {"fifo", "zero"}) {
        std::string command =
            "timeout 10 " + std::string(EVTUTIL_BINARY) + " list " + path(name) + " 2>/dev/null";
        int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << name << ": " << status;
    }
}

// What a rewrite by /off keeps of the file it replaces.
TEST_F(Hostile, ARewriteKeepsModeOwnerLinkAndNothingLeftOver) {
    const struct {
        const char* what;
        mode_t mode;
        gid_t group;
    } rows[] = {{"private", 0600, getegid()}, {"group-writable, another group", 0664, 4}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(chmod(hive().c_str(), row.mode), 0);
        if (chown(hive().c_str(), geteuid(), row.group) != 0)
            GTEST_SKIP() << "cannot give the file to group " << row.group;
        ASSERT_EQ(runGuarded({"/off"}).exitCode, 0);
        struct stat st;
        ASSERT_EQ(stat(hive().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, row.mode);
        EXPECT_EQ(st.st_gid, row.group);
    }

    // Through a link: the target is replaced in its own directory, the link stays.
    mkdir(path("elsewhere").c_str(), 0755);
    ASSERT_EQ(rename(hive().c_str(), path("elsewhere/hive.reg").c_str()), 0);
    ASSERT_EQ(symlink("../elsewhere/hive.reg", hive().c_str()), 0);
    writeFile(path("elsewhere/.hive.reg.vlmaudit-AbC123"), "left by a crash");
    writeFile(path("elsewhere/.hive.reg.vlmaudit-keep"), "not ours");
    ASSERT_EQ(runGuarded({"/on"}).exitCode, 0);
    struct stat st;
    ASSERT_EQ(lstat(hive().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(readFile(path("elsewhere/hive.reg")).find("wsxlumEvent\"=dword:00000001"),
              std::string::npos);
    EXPECT_NE(readFile(path("elsewhere/hive.reg")).find("EventMessageFile"), std::string::npos);
    EXPECT_NE(access(path("elsewhere/.hive.reg.vlmaudit-AbC123").c_str(), F_OK), 0);
    EXPECT_EQ(access(path("elsewhere/.hive.reg.vlmaudit-keep").c_str(), F_OK), 0);
}

} // namespace
