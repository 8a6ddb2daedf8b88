#include "app/dispatch.h"
// What survives when the file system fails underneath (Linux stand-in).
#include "settings/audit_settings.h"
#include "support/posix/drain.h"
#include "support/support.h"

#include <csignal>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const WCHAR kVelmor[] = WSTR("System\\CurrentControlSet\\Control\\Velmor");

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the front end in a child whose files may not grow past limit bytes, as on a full disk;
// standard output and standard error, together.
std::string runWithFileLimit(rlim_t limit, std::vector<std::string> args, int* exitCode) {
    int pipeFds[2];
    EXPECT_EQ(pipe(pipeFds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        close(pipeFds[0]);
        signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead
        struct rlimit rl = {limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        std::vector<char*> argv;
        args.insert(args.begin(), "vlmaudit");
        for (std::string& a : args)
            argv.push_back(&a[0]);
        _exit(runCommand(static_cast<int>(argv.size()), argv.data()));
    }
    close(pipeFds[1]);
    std::string out = drain(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

TEST(Faults, AFullDiskLeavesTheOldRegistryFileWhole) {
    Sandbox sandbox;
    ASSERT_EQ(createKey(kVelmor), ERROR_SUCCESS);
    for (int i = 0; i < 20; ++i) // a file of some size, so the rewrite cannot fit the limit
        ASSERT_EQ(setValue(kVelmor, utf8ToUtf16("value" + std::to_string(i)).c_str(), REG_DWORD,
                           dwordBytes(i)),
                  ERROR_SUCCESS);
    const std::string dir = sandbox.root() + "/registry";
    const std::string before = readFile(dir + "/HKEY_LOCAL_MACHINE.reg");
    ASSERT_GT(before.size(), 256u);
    int rc = -1;
    EXPECT_EQ(runWithFileLimit(256, {"/on"}, &rc),
              "Could not register the wsxlum event source: the registry could not be written.\n"
              "Could not enable Velmor logon auditing: the registry could not be written.\n");
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(readFile(dir + "/HKEY_LOCAL_MACHINE.reg"), before);
    EXPECT_EQ(filesIn(dir), (std::vector<std::string>{".lock", "HKEY_LOCAL_MACHINE.reg"}))
        << "no temporary file is left behind";
    EXPECT_EQ(runAndCapture({}), "Velmor logon auditing is not currently enabled.\n");
}

TEST(Faults, AReadOnlyRootRefusesToCreateTheRegistry) {
    Sandbox sandbox;
    ASSERT_EQ(chmod(sandbox.root().c_str(), 0555), 0);
    int rc = -1;
    EXPECT_EQ(runForErrors({"/on"}, &rc),
              "Could not register the wsxlum event source: access is denied.\n"
              "Could not enable Velmor logon auditing: the registry key "
              "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Velmor does not exist.\n");
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(filesIn(sandbox.root()).empty());
    EXPECT_EQ(runAndCapture({"/list"}), "\nWARNING: Velmor auditing not currently enabled.\n"
                                        "Use /on option to enable and reboot.\n\n");
}

} // namespace
