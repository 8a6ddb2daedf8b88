// Loading and all-or-nothing saving of the stand-in's registry file.
#pragma once

#include "platform.h"
#include "formats/reg/reg_file.h"

// Reads the file; a missing file is an empty registry. ERROR_BADDB when it cannot be parsed.
LONG loadRegistry(RegFile& registry);

// Whether a process may write below HKEY_LOCAL_MACHINE: the registry directory (or, while it
// does not exist, the root) must be writable, and a directory with no write bit at all counts as
// read-only even for root, like a hive mounted read-only.
int registryWritable();

// Runs change(registry) under the exclusive lock on a freshly loaded registry and, when it
// returns ERROR_SUCCESS with changed set, writes the result beside the old file and renames it
// over the old one. A file that cannot be parsed is never replaced.
template <typename Change> LONG updateRegistry(Change change);

// Internals of updateRegistry, kept out of the template.
int lockRegistry();
void unlockRegistry(int lockFd);
LONG saveRegistry(const RegFile& registry);

template <typename Change> LONG updateRegistry(Change change) {
    int lockFd = lockRegistry();
    if (lockFd < 0)
        return ERROR_ACCESS_DENIED;
    RegFile registry;
    LONG result = loadRegistry(registry);
    int changed = 0;
    if (result == ERROR_SUCCESS)
        result = change(registry, changed);
    if (result == ERROR_SUCCESS && changed)
        result = saveRegistry(registry);
    unlockRegistry(lockFd);
    return result;
}

// The log in which an event source is registered
// (HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\EventLog\<Log>\<source>), or
// "Application" when it is registered nowhere, as Windows falls back.
std::string eventLogOfSource(const std::string& source);
