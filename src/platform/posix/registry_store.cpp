#include "registry_store.h"

#include "root.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

int writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        done += static_cast<size_t>(n);
    }
    return 1;
}

} // namespace

LONG loadRegistry(RegFile& registry) {
    registry = RegFile();
    int fd = open(registryFilePath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    std::string bytes;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            close(fd);
            return ERROR_ACCESS_DENIED;
        }
        bytes.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return registry.parse(bytes) ? ERROR_SUCCESS : ERROR_BADDB;
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
    int fd = open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
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

LONG saveRegistry(const RegFile& registry) {
    std::string target = registryFilePath();
    std::string temp = target + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0)
        return ERROR_ACCESS_DENIED;
    int ok = writeAll(fd, registry.serialize()) && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return ERROR_WRITE_FAULT;
    }
    int dirFd = open(registryDirectory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return ERROR_SUCCESS;
}
