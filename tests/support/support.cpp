#include "support/support.h"

#include "app/dispatch.h"
#include "report/time_text.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstdlib>

LONG createKey(const WCHAR* path) {
    HKEY key;
    DWORD disposition;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (rc == ERROR_SUCCESS)
        RegCloseKey(key);
    return rc;
}

LONG setValue(const WCHAR* path, const WCHAR* name, DWORD type, const std::vector<BYTE>& data) {
    HKEY key;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return rc;
}

LONG queryValue(const WCHAR* path, const WCHAR* name, DWORD* type, std::vector<BYTE>* data) {
    HKEY key;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    DWORD size = 0;
    rc = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
    if (rc == ERROR_SUCCESS) {
        data->assign(size, 0);
        rc = RegQueryValueExW(key, name, nullptr, type, data->data(), &size);
        data->resize(size);
    }
    RegCloseKey(key);
    return rc;
}

std::vector<BYTE> dwordBytes(DWORD value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
            static_cast<BYTE>(value >> 24)};
}

std::string runAndCapture(std::vector<std::string> args, int* exitCode, std::string* errors) {
    args.insert(args.begin(), "vlmaudit");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int rc = runCommand(static_cast<int>(args.size()), argv.data());
    flushOutput();
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    if (exitCode)
        *exitCode = rc;
    if (errors)
        *errors = err;
    return out;
}

std::string runForErrors(std::vector<std::string> args, int* exitCode) {
    std::string errors;
    EXPECT_EQ(runAndCapture(args, exitCode, &errors), "") << "standard output";
    return errors;
}

std::string utf8(const WString& s) {
    std::string out;
    appendUtf8(out, s.data(), s.size());
    return out;
}

std::string dateTimeText(uint32_t seconds) {
    WCHAR* text = formatDateTime(seconds, WSTR(" "), 1);
    std::string out = text ? toUtf8(text) : "<none>";
    std::free(text);
    return out;
}

std::string clockDateTimeText(LocalClock& clock, uint32_t seconds) {
    WCHAR text[96];
    return formatDateTimeInto(text, 96, seconds, WSTR(" "), 1, &clock) ? toUtf8(text) : "<none>";
}

std::string durationText(uint32_t seconds) {
    WCHAR out[kDurationUnits];
    formatDuration(out, seconds);
    return toUtf8(out);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::string dir = path.substr(0, path.rfind('/'));
    if (!dir.empty() && !std::ifstream(dir))
        std::filesystem::create_directory(dir);
    std::ofstream(path, std::ios::binary) << text;
}
