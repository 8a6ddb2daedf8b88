#include "registry_store.h"

#include "formats/file_io.h"
#include "root.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int writableDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0222) != 0 &&
           access(path.c_str(), W_OK) == 0;
}

int makeDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

} // namespace

LONG loadRegistry(RegFile& registry) {
    registry = RegFile();
    int fd = openRegularFile(registryFilePath(), O_RDONLY);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    std::vector<uint8_t> bytes;
    int ok = readWholeFile(fd, bytes);
    close(fd);
    if (!ok)
        return ERROR_ACCESS_DENIED;
    return registry.parse(std::string(bytes.begin(), bytes.end())) ? ERROR_SUCCESS : ERROR_BADDB;
}

int registryWritable() {
    std::string dir = registryDirectory();
    struct stat st;
    if (stat(dir.c_str(), &st) == 0)
        return writableDirectory(dir);
    std::string root = standInRoot();
    return stat(root.c_str(), &st) != 0 || writableDirectory(root);
}

int lockRegistry() {
    std::string dir = registryDirectory();
    if (!makeDirectory(standInRoot()) || !makeDirectory(dir))
        return -1;
    // Not through a link: whoever may write the directory must not make a root run create or
    // lock a file elsewhere.
    int fd = openRegularFile(dir + "/.lock", O_RDWR | O_CREAT | O_NOFOLLOW, 0644);
    if (fd < 0)
        return -1;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

void unlockRegistry(int lockFd) {
    flock(lockFd, LOCK_UN);
    close(lockFd);
}

namespace {

// Temporary files are named .<file>.vlmaudit-XXXXXX beside the file they replace.
std::string tempPrefix(const std::string& fileName) {
    return "." + fileName + ".vlmaudit-";
}

// The file a write replaces: the registry file, or the file its link points to, so that the
// link stays and its target is updated. Empty when a link leads nowhere.
std::string replacedFile() {
    std::string path = registryFilePath();
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char* resolved = realpath(path.c_str(), nullptr);
    std::string target = resolved ? resolved : "";
    std::free(resolved);
    return target;
}

// Temporary files a writer left when it died; only called under the lock, when no writer of
// ours is between creating one and renaming it.
void removeLeftovers(const std::string& dir, const std::string& fileName) {
    const std::string prefix = tempPrefix(fileName);
    DIR* listing = opendir(dir.c_str());
    if (!listing)
        return;
    while (struct dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        struct stat st;
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            fstatat(dirfd(listing), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode))
            unlinkat(dirfd(listing), name.c_str(), 0);
    }
    closedir(listing);
}

} // namespace

// The new text goes to a temporary file beside the one it replaces, with that file's mode and
// owner, and is renamed over it: a crash leaves the old file or the new one, never half of it.
LONG saveRegistry(const RegFile& registry) {
    std::string target = replacedFile();
    if (target.empty())
        return ERROR_WRITE_FAULT;
    size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    std::string fileName = target.substr(slash + 1);
    removeLeftovers(dir, fileName);
    std::string temp = dir + "/" + tempPrefix(fileName) + "XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0)
        return ERROR_ACCESS_DENIED;
    struct stat old;
    int hadFile = stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    // The owner is kept where this process may give it (root may); the mode always.
    if (hadFile && (old.st_uid != geteuid() || old.st_gid != getegid()))
        (void)!fchown(fd, old.st_uid, old.st_gid);
    std::string text = registry.serialize();
    int ok = writeAllAt(fd, text.data(), text.size(), 0) &&
             fchmod(fd, hadFile ? old.st_mode & 07777 : 0644) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return ERROR_WRITE_FAULT;
    }
    int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return ERROR_SUCCESS;
}

std::string eventLogOfSource(const std::string& source) {
    const std::string prefix = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\EventLog";
    RegFile registry;
    if (loadRegistry(registry) == ERROR_SUCCESS) {
        for (const RegFileKey& key : registry.keys()) {
            if (!isAtOrBelow(key.path, prefix) || key.path.size() <= prefix.size())
                continue;
            std::string rest = key.path.substr(prefix.size() + 1);
            size_t split = rest.find('\\');
            if (split == std::string::npos || split == 0)
                continue;
            std::string log = rest.substr(0, split);
            // The log name becomes a file name: nothing that leaves the eventlog directory.
            if (log == "." || log == ".." || log.find('/') != std::string::npos)
                continue;
            if (isAtOrBelow(rest.substr(split + 1), source))
                return log;
        }
    }
    return "Application";
}
