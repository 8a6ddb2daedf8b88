#include "registry_store.h"

#include "file_io.h"
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

} // namespace

LONG loadRegistry(RegFile& registry) {
    registry = RegFile();
    int fd = open(registryFilePath().c_str(), O_RDONLY | O_CLOEXEC);
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
    std::string text = registry.serialize();
    int ok = writeAllAt(fd, text.data(), text.size(), 0) && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
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
