// The one platform header the logic includes: the Windows operations (real or stand-in),
// the UTF-16 unit type WCHAR, and formatted writing to standard output.
#pragma once

#include "formats/utf16.h"
#include "platform_api.h"

#include <string>
#include <vector>

using WString = std::basic_string<WCHAR>;

// Process start-up of the platform layer. Linux: dates, times and separators follow the
// user's locale (setlocale). Windows: nothing; the national-language functions read the user's
// locale themselves, and the C runtime keeps its "C" locale for the name comparisons.
void platformStartup();

// Writes to standard output. The format is narrow; %S takes a UTF-16 string (a null pointer
// prints nothing), %s a narrow string, %d/%u an int/unsigned with an optional width (%4d),
// %% a percent sign. For machine-read documents, which carry names exactly: %C takes a UTF-16
// string as one CSV field (RFC 4180 quoting, a leading ' before a text a spreadsheet would take
// for a formula; a null pointer is an empty field), %J one as a JSON string (null for a null
// pointer; a lone surrogate escaped as \uXXXX). %P takes UTF-8 made ready for the console by
// formatText or consoleTextOf, written as it stands (it must hold no line end).
void printOut(const char* format, ...);

// Appends to out what printOut would write for the same format and arguments: a text made once
// and written with %P many times.
void formatText(std::string& out, const char* format, ...);
// The UTF-8 that %S writes for text, zero-terminated, into out (size bytes); the bytes with the
// terminator, or 0 when it does not fit.
size_t consoleTextOf(const WCHAR* text, char* out, size_t size);

// The line end of a CSV document as printOut takes it: CRLF in the file either way, as Windows'
// standard output writes each "\n" as CRLF itself.
extern const char kCsvLineEnd[];

// The program's arguments, argv[0] included, as UTF-16: on Windows those of the wide command
// line (any name, whatever the ANSI code page), when it splits into the same arguments as argv;
// elsewhere argv read as UTF-8.
std::vector<WString> wideArguments(int argc, char** argv);

// printOut hands finished lines to the console in blocks, and printError hands over those
// before its message; this hands over everything, the start of an unfinished line too.
void flushOutput();

// Writes to standard error, formatted as printOut does (UTF-8; CRLF on Windows): the one place
// diagnostics go, so that standard output holds exactly the reports.
void printError(const char* format, ...);

// Flushes standard output (flushOutput first); 1 when anything written to it since the start was
// lost (a full disk, a closed pipe, a console that refused the text).
int standardOutputFailed();

// A platform result code in plain words ("access is denied"); codes without words of their own
// get the system's text, or a sentence with the number.
const char* errorText(LONG status);
// The system's own words for a result code errorText does not know, into out (size bytes): a
// sentence with the number where the system has none.
void systemErrorText(LONG status, char* out, size_t size);

// Which part of the event log the walks of log passed over or read only in part, in words, for
// a walk that ended with ERROR_FILE_CORRUPT; "" when the platform has nothing to say.
void describeEventLogDamage(HANDLE log, char* out, size_t size);

// A saved log (.evt or .evtx, told by its header, whatever its name) read with the program's
// own decoders on every platform, so that its records, its damage and its errors are the same
// everywhere. Open: null with ERROR_INVALID_PARAMETER (no path), ERROR_FILE_NOT_FOUND,
// ERROR_BAD_FILE_TYPE (a device, a FIFO or a pipe), ERROR_ACCESS_DENIED, ERROR_BAD_FORMAT
// (neither signature; an empty file too) or ERROR_EVENTLOG_FILE_CORRUPT (a wrong header). Read:
// as ReadEventLogW, or as readShortEventRecords where shortRecords is 1; describe its damage as
// describeEventLogDamage; close as CloseEventLog.
HANDLE openSavedLog(const WCHAR* fileName);
BOOL readSavedLog(HANDLE log, int shortRecords, DWORD flags, void* buffer, DWORD bytesToRead,
                  DWORD* bytesRead, DWORD* minBytesNeeded);
void describeSavedLogDamage(HANDLE log, char* out, size_t size);
BOOL closeSavedLog(HANDLE log);

// Reads as ReadEventLogW does, but gives each record as its short record (see
// formats/evt/event_record.h), where the log makes its records as they are read (a .evtx file
// on Linux): a reader that takes only the event ID, the time, the source and the data is spared
// making and copying the rest. FALSE with ERROR_NOT_SUPPORTED where it cannot (Windows, a .evt
// file, a missing log, a handle ReadEventLogW read first); a handle it read is read by it alone.
BOOL readShortEventRecords(HANDLE log, DWORD flags, void* buffer, DWORD bytesToRead,
                           DWORD* bytesRead, DWORD* minBytesNeeded);

// Hands UTF-8 text, whole characters, to the console layer of the platform (as it is on Linux;
// the console's wide output or UTF-8 with CRLF on Windows).
void writeConsoleText(const char* text, size_t length);

// Zeroed memory in large blocks for arenas, from the system rather than the heap: size bytes,
// or none; releaseBlock takes the same size back.
void* reserveBlock(size_t size);
void releaseBlock(void* block, size_t size);

// UTF-16 <-> UTF-8 over WCHAR (formats/utf16.h has the rules, putUtf8 and nextCodePoint).
// Unpaired surrogates and invalid UTF-8 become U+FFFD.
void appendUtf8(std::string& out, const WCHAR* text, size_t length);
// Writes the UTF-8 of text into out, which holds at least 3 bytes per unit; returns the bytes.
size_t encodeUtf8(const WCHAR* text, size_t length, char* out);
WString utf8ToUtf16(const std::string& text);
// The code point at text[i], a unit or a surrogate pair (i then moves to its second unit);
// U+FFFD for an unpaired surrogate. Inline: the console puts every name through it.
inline char32_t codePointAt(const WCHAR* text, size_t length, size_t& i) {
    return utf16CodePointAt(text, length, i);
}
// Appends one code point (surrogate pair above U+FFFF).
void appendUtf16(WString& out, char32_t c);
std::string toUtf8(const WCHAR* text);
