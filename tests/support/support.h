// Helpers shared by the tests.
#pragma once

#include "platform.h"
#include "report/time_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Sends the registry (and on Linux the event logs) of the calling test to a scratch place: a
// temporary VLMAUDIT_ROOT on Linux, a scratch key below HKEY_CURRENT_USER on Windows. The
// machine's real HKEY_LOCAL_MACHINE is never touched.
class Sandbox {
  public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    // Linux only: the scratch root directory (empty on Windows).
    const std::string& root() const { return root_; }

  private:
    std::string root_;
};

// A pipe no one writes to, made for the calling test and named by the path returned: a FIFO in
// the sandbox's root on Linux, a named pipe (\\.\pipe\...) on Windows, left for the process.
std::string makePipe(const Sandbox& sandbox);
// The platform's null device: /dev/null, NUL.
extern const char kNullDevice[];

// Registry helpers built on the platform's own functions.
LONG createKey(const WCHAR* path);
LONG setValue(const WCHAR* path, const WCHAR* name, DWORD type, const std::vector<BYTE>& data);
// ERROR_SUCCESS and the value's type and bytes, or the failing result code.
LONG queryValue(const WCHAR* path, const WCHAR* name, DWORD* type, std::vector<BYTE>* data);
std::vector<BYTE> dwordBytes(DWORD value);

// Runs the front end as the program does and returns what it wrote to standard output; what it
// wrote to standard error goes to errors when asked for.
std::string runAndCapture(std::vector<std::string> args, int* exitCode = nullptr,
                          std::string* errors = nullptr);
// The same for a run that must write nothing to standard output: what it wrote to standard
// error.
std::string runForErrors(std::vector<std::string> args, int* exitCode);

std::string utf8(const WString& s);

// The whole file, or an empty string.
std::string readFile(const std::string& path);
// Replaces the file's content, making its directory first when missing (one level).
void writeFile(const std::string& path, const std::string& text);

// formatDateTime(seconds, " ", 1) as UTF-8 ("<none>" when it gives none), and formatDuration.
std::string dateTimeText(uint32_t seconds);
// The same text through a report's clock ("<none>" when it cannot be made).
std::string clockDateTimeText(LocalClock& clock, uint32_t seconds);
std::string durationText(uint32_t seconds);
