#include "file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

int openRegularFile(const std::string& path, int flags, mode_t mode) {
    int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

int readWholeFile(int fd, std::vector<uint8_t>& bytes) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 0xFFFFFFF0LL)
        return 0;
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return 0;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return 1;
}

int writeAllAt(int fd, const void* data, size_t length, off_t offset) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
        ssize_t n = pwrite(fd, p, length, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        p += n;
        length -= static_cast<size_t>(n);
        offset += n;
    }
    return 1;
}

void makeParentDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
}

int readAt(int fd, uint64_t offset, uint8_t* out, size_t length) {
    while (length > 0) {
        ssize_t n = pread(fd, out, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        out += n;
        length -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return 1;
}

int fileSize(int fd, uint64_t* size) {
    struct stat st;
    if (fstat(fd, &st) != 0)
        return 0;
    *size = static_cast<uint64_t>(st.st_size);
    return 1;
}

int nextData(int fd, uint64_t offset, uint64_t* start, uint64_t* end) {
    *start = offset;
    *end = UINT64_MAX;
    off_t data = lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0)
        return errno != ENXIO;
    off_t hole = lseek(fd, data, SEEK_HOLE);
    *start = static_cast<uint64_t>(data);
    if (hole > data)
        *end = static_cast<uint64_t>(hole);
    return 1;
}

void lockShared(int fd) {
    while (flock(fd, LOCK_SH) != 0 && errno == EINTR) {
    }
}

void unlockFile(int fd) {
    flock(fd, LOCK_UN);
}

void closeFile(int fd) {
    close(fd);
}

long usableProcessors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return CPU_COUNT(&set);
    return sysconf(_SC_NPROCESSORS_ONLN);
}
