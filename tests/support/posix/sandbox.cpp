#include "support/support.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

Sandbox::Sandbox() {
    char pattern[] = "/tmp/vlmaudit-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    EXPECT_NE(dir, nullptr);
    root_ = dir ? dir : "/nonexistent";
    setenv("VLMAUDIT_ROOT", root_.c_str(), 1);
}

Sandbox::~Sandbox() {
    std::error_code ignored;
    // Tests may leave directories read-only; give the owner the rights back to remove them.
    for (auto& entry : std::filesystem::recursive_directory_iterator(root_, ignored))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root_, ignored);
    unsetenv("VLMAUDIT_ROOT");
}

const char kNullDevice[] = "/dev/null";

std::string makePipe(const Sandbox& sandbox) {
    const std::string path = sandbox.root() + "/fifo";
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    return path;
}
