#include "formats/reg/reg_file.h"
#include "support/support.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "settings/audit_settings.h"

namespace {

const WCHAR kVelmor[] = WSTR("System\\CurrentControlSet\\Control\\Velmor");

class PosixRegistry : public testing::Test {
  protected:
    std::string regFile() const { return sandbox.root() + "/registry/HKEY_LOCAL_MACHINE.reg"; }
    Sandbox sandbox;
};

TEST_F(PosixRegistry, AMissingFileIsAnEmptyRegistry) {
    HKEY key = reinterpret_cast<HKEY>(0xdeadbeef);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVelmor, 0, KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, reinterpret_cast<HKEY>(0xdeadbeef));
    EXPECT_EQ(createKey(kVelmor), ERROR_SUCCESS);
    EXPECT_EQ(readFile(regFile()), "Windows Registry Editor Version 5.00\n\n"
                                   "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\"
                                   "Velmor]\n\n");
}

TEST_F(PosixRegistry, KeysAndValuesMatchWithoutRegardToCase) {
    ASSERT_EQ(createKey(kVelmor), ERROR_SUCCESS);
    ASSERT_EQ(setValue(WSTR("SYSTEM\\currentcontrolset\\control\\VELMOR"), WSTR("WsxLumEvent"),
                       REG_DWORD, dwordBytes(1)),
              ERROR_SUCCESS);
    EXPECT_EQ(isAuditingEnabled(), 1);
    DWORD disposition = 0;
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, WSTR("system\\CurrentControlSet\\Control"), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
}

TEST_F(PosixRegistry, ASmallBufferGetsMoreDataAndTheSize) {
    ASSERT_EQ(createKey(kVelmor), ERROR_SUCCESS);
    ASSERT_EQ(setValue(kVelmor, WSTR("v"), REG_BINARY, {1, 2, 3, 4, 5, 6}), ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVelmor, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    BYTE buf[4] = {0xdd, 0xdd, 0xdd, 0xdd};
    DWORD size = 4, type = 0xdeadbeef;
    EXPECT_EQ(RegQueryValueExW(key, WSTR("v"), nullptr, &type, buf, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(RegQueryValueExW(key, WSTR("missing"), nullptr, &type, buf, &size),
              ERROR_FILE_NOT_FOUND);
    // Opened for reading only: no writes through this handle.
    EXPECT_EQ(RegSetValueExW(key, WSTR("v"), 0, REG_BINARY, buf, 4), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
}

TEST_F(PosixRegistry, AnUnreadableFileIsNeverReplaced) {
    const std::string text = "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Velmor]\n"
                             "\"wsxlumEvent\"=dword:1\n\"broken\"=dword:xyz\n";
    writeFile(regFile(), text);
    HKEY key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVelmor, 0, KEY_QUERY_VALUE, &key), ERROR_BADDB);
    EXPECT_EQ(isAuditingEnabled(), 0);
    int rc = -1;
    EXPECT_EQ(runForErrors({"/on"}, &rc),
              "Could not register the wsxlum event source: the registry cannot be read.\n"
              "Could not enable Velmor logon auditing: the registry cannot be read.\n");
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(runForErrors({"/off"}, &rc),
              "Could not disable Velmor logon auditing: the registry cannot be read.\n");
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(readFile(regFile()), text);
}

TEST_F(PosixRegistry, AReadOnlyRegistryDeniesWrites) {
    ASSERT_EQ(createKey(kVelmor), ERROR_SUCCESS);
    ASSERT_EQ(setValue(kVelmor, WSTR("wsxlumEvent"), REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);
    std::string before = readFile(regFile());
    ASSERT_EQ(chmod((sandbox.root() + "/registry").c_str(), 0555), 0);
    int rc = -1;
    EXPECT_EQ(runForErrors({"/off"}, &rc),
              "Could not disable Velmor logon auditing: access is denied.\n");
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(runForErrors({"/on"}, &rc),
              "Could not register the wsxlum event source: access is denied.\n"
              "Could not enable Velmor logon auditing: access is denied.\n");
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(runAndCapture({}), "Velmor logon auditing is currently enabled.\n");
    EXPECT_EQ(readFile(regFile()), before);
}

// Writers in several processes: every update lands, none is lost to another's rewrite.
TEST_F(PosixRegistry, ConcurrentWritersLoseNoValue) {
    ASSERT_EQ(createKey(kVelmor), ERROR_SUCCESS);
    const int kWriters = 4, kRounds = 40;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int ok = 1;
            for (int i = 0; i < kRounds; ++i) {
                if (w < 2) {
                    ok &= w == 0 ? registerEventSource() && setAuditingFlag(1) : setAuditingFlag(0);
                } else {
                    WString name =
                        utf8ToUtf16("writer" + std::to_string(w) + "_" + std::to_string(i));
                    ok &=
                        setValue(kVelmor, name.c_str(), REG_DWORD, dwordBytes(i)) == ERROR_SUCCESS;
                }
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 2; w < kWriters; ++w) {
        for (int i = 0; i < kRounds; ++i) {
            DWORD type;
            std::vector<BYTE> data;
            WString name = utf8ToUtf16("writer" + std::to_string(w) + "_" + std::to_string(i));
            EXPECT_EQ(queryValue(kVelmor, name.c_str(), &type, &data), ERROR_SUCCESS);
            EXPECT_EQ(data, dwordBytes(i));
        }
    }
    DWORD type;
    std::vector<BYTE> data;
    EXPECT_EQ(queryValue(WSTR("System\\CurrentControlSet\\Services\\EventLog\\Application\\wsxlum"),
                         WSTR("EventMessageFile"), &type, &data),
              ERROR_SUCCESS);
    RegFile file;
    EXPECT_TRUE(file.parse(readFile(regFile())));
}

} // namespace
