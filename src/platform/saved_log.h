// The parts of saved_log.cpp the platform layer builds on (platform.h has the rest).
#pragma once

#include "platform.h"

// Opens a saved log's file by its path, to read: ERROR_SUCCESS with the descriptor in *fd, or
// ERROR_FILE_NOT_FOUND, ERROR_BAD_FILE_TYPE (anything but a regular file: a device, a FIFO or
// a pipe, opened without waiting) or ERROR_ACCESS_DENIED. Each platform has its own.
DWORD openSavedFile(const WCHAR* fileName, int* fd);

// Whether the file open at fd begins with the header of its format (.evtx when xml): an empty
// file is an empty log. ERROR_SUCCESS, ERROR_EVENTLOG_FILE_CORRUPT, or ERROR_ACCESS_DENIED where
// its size cannot be told.
DWORD checkLogHeader(int fd, int xml);

// A handle for the log open at fd, which it owns from now on (-1: a missing file, an empty log);
// null with ERROR_NOT_ENOUGH_MEMORY.
HANDLE newSavedLog(int fd, int xml);
