#include "support/posix/drain.h"

#include "support/support.h"

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

std::string drain(int fd) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(fd);
    return out;
}

std::string runProgram(const std::string& root, const std::string& options, int status,
                       std::string* errors) {
    const std::string errorFile = root + "/errors";
    std::string command = "LC_ALL=C TZ=UTC VLMAUDIT_ROOT='" + root + "' '" VLMAUDIT_BINARY "' " +
                          options + " 2>'" + errorFile + "'";
    FILE* p = popen(command.c_str(), "r");
    std::string out = p ? drain(dup(fileno(p))) : "";
    const int ended = p ? pclose(p) : -1;
    EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == status) << options;
    if (errors)
        *errors = readFile(errorFile);
    return out;
}
