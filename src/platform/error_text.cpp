#include "platform.h"

const char* errorText(LONG status) {
    switch (status) {
    case ERROR_SUCCESS:
        return "no failure";
    case ERROR_FILE_NOT_FOUND:
        return "the file does not exist";
    case ERROR_ACCESS_DENIED:
        return "access is denied";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "not enough memory";
    case ERROR_BADDB:
        return "the registry cannot be read";
    case ERROR_WRITE_FAULT:
        return "the registry could not be written";
    case ERROR_EVENTLOG_FILE_CORRUPT:
        return "the event log file is corrupt";
    case ERROR_DIRECTORY:
        return "the path is a directory";
    case ERROR_BAD_FILE_TYPE:
        return "the path is not a regular file";
    case ERROR_BAD_FORMAT:
        return "the file is not an event log: .evt or .evtx";
    case ERROR_FILE_CORRUPT:
        return "the file is damaged";
    case ERROR_INVALID_HANDLE:
        return "the handle is not valid";
    case ERROR_HANDLE_EOF:
        return "the end of the file was reached";
    case ERROR_INVALID_PARAMETER:
        return "a parameter is not valid";
    case ERROR_INSUFFICIENT_BUFFER:
        return "a record is larger than the reader takes";
    case ERROR_MORE_DATA:
        return "more data is available than fits";
    case ERROR_KEY_DELETED:
        return "the registry key was deleted meanwhile";
    default: {
        static char text[160];
        systemErrorText(status, text, sizeof text);
        return text;
    }
    }
}
