#include "app/dispatch.h"
#include "support/support.h"

namespace {

const WCHAR kVelmor[] = WSTR("System\\CurrentControlSet\\Control\\Velmor");
const WCHAR kSource[] = WSTR("System\\CurrentControlSet\\Services\\EventLog\\Application\\wsxlum");
const char kUsage[] = "Usage: vlmaudit [ /on | /off | /time | /list | /help ]\n";
const char kEnabled[] = "Velmor logon auditing is currently enabled.\n";
const char kDisabled[] = "Velmor logon auditing is not currently enabled.\n";
const char kWarning[] = "\nWARNING: Velmor auditing not currently enabled.\n"
                        "Use /on option to enable and reboot.\n\n";

int classify(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    return classifyArguments(static_cast<int>(argv.size()), argv.data());
}

DWORD flagValue() {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (queryValue(kVelmor, WSTR("wsxlumEvent"), &type, &data) != ERROR_SUCCESS || data.size() != 4)
        return 0xdeadbeef;
    return data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
}

TEST(ClassifyArguments, FollowsTheOptionTableWithoutRegardToCase) {
    EXPECT_EQ(classify({"vlmaudit"}), CommandNone);
    EXPECT_EQ(classify({"vlmaudit", "on"}), CommandNotOption);
    EXPECT_EQ(classify({"vlmaudit", ""}), CommandNotOption);
    EXPECT_EQ(classify({"vlmaudit", "/on", "extra"}), CommandTooMany);
    EXPECT_EQ(classify({"vlmaudit", "/"}), CommandUnknown);
    EXPECT_EQ(classify({"vlmaudit", "/x"}), CommandUnknown);
    EXPECT_EQ(classify({"vlmaudit", "/onx"}), CommandUnknown);
    EXPECT_EQ(classify({"vlmaudit", "/ON"}), CommandOn);
    EXPECT_EQ(classify({"vlmaudit", "/oFF"}), CommandOff);
    EXPECT_EQ(classify({"vlmaudit", "/Time"}), CommandTime);
    EXPECT_EQ(classify({"vlmaudit", "/LIST"}), CommandList);
    EXPECT_EQ(classify({"vlmaudit", "/help"}), CommandHelp);
}

// /help alone asks for the usage line; any other line the program does not understand gets it
// too, and on standard error the first word it could not take, with exit status 1.
TEST(Dispatch, WrongCommandLinesPrintTheUsageLineAndTheWordNotTaken) {
    Sandbox sandbox;
    const struct {
        std::vector<std::string> args;
        const char* errors;
        int exitCode;
    } lines[] = {
        {{"/help"}, "", 0},
        {{"/HELP"}, "", 0},
        {{"on"}, "vlmaudit: on is not an option.\n", 1},
        {{""}, "vlmaudit: an empty argument is not an option.\n", 1},
        {{"/"}, "vlmaudit: / is not an option.\n", 1},
        {{"/x"}, "vlmaudit: /x is not an option.\n", 1},
        {{"/lst"}, "vlmaudit: /lst is not an option.\n", 1},
        {{"-list"}, "vlmaudit: -list is not an option.\n", 1},
        {{"/daily", "/time"}, "vlmaudit: /daily is not an option.\n", 1},
        {{"list", "/since:today"}, "vlmaudit: list is not an option.\n", 1},
        {{"/on", "extra"}, "vlmaudit: extra is not a modifier of /on, which takes none.\n", 1},
        {{"/OFF", ""},
         "vlmaudit: an empty argument is not a modifier of /off, which takes none.\n",
         1},
        {{"/help", "/format:csv"},
         "vlmaudit: /format:csv is not a modifier of /help, which takes none.\n",
         1},
    };
    for (const auto& line : lines) {
        int rc = -1;
        std::string errors;
        EXPECT_EQ(runAndCapture(line.args, &rc, &errors), kUsage) << line.args[0];
        EXPECT_EQ(errors, line.errors) << line.args[0];
        EXPECT_EQ(rc, line.exitCode) << line.args[0];
    }
}

TEST(Dispatch, StatusFollowsTheFlag) {
    Sandbox sandbox;
    EXPECT_EQ(runAndCapture({}), kDisabled);
    ASSERT_EQ(createKey(kVelmor), ERROR_SUCCESS);
    int rc = -1;
    EXPECT_EQ(runAndCapture({"/On"}, &rc), "");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(runAndCapture({}), kEnabled);
    EXPECT_EQ(runAndCapture({"/OFF"}, &rc), "");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(runAndCapture({}), kDisabled);
}

TEST(Dispatch, OffKeepsTheRegistrationAndOnWritesItAgain) {
    Sandbox sandbox;
    ASSERT_EQ(createKey(kVelmor), ERROR_SUCCESS);
    runAndCapture({"/on"});
    runAndCapture({"/off"});
    EXPECT_EQ(flagValue(), 0u);
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(queryValue(kSource, WSTR("EventMessageFile"), &type, &data), ERROR_SUCCESS);
    // A changed registration is put back by the next /on.
    ASSERT_EQ(setValue(kSource, WSTR("TypesSupported"), REG_DWORD, dwordBytes(7)), ERROR_SUCCESS);
    runAndCapture({"/on"});
    EXPECT_EQ(queryValue(kSource, WSTR("TypesSupported"), &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, dwordBytes(0x1F));
    EXPECT_EQ(flagValue(), 1u);
}

TEST(Dispatch, OnWithoutTheVelmorKeyRegistersTheSourceAndReportsTheFailure) {
    Sandbox sandbox;
    int rc = -1;
    EXPECT_EQ(runForErrors({"/on"}, &rc),
              "Could not enable Velmor logon auditing: the registry key "
              "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Velmor does not "
              "exist.\n");
    EXPECT_EQ(rc, 1);
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(queryValue(kSource, WSTR("EventMessageFile"), &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(queryValue(kVelmor, WSTR("wsxlumEvent"), &type, &data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(runAndCapture({}), kDisabled);
}

TEST(Dispatch, OffWithoutTheVelmorKeyReportsTheFailure) {
    Sandbox sandbox;
    int rc = -1;
    EXPECT_EQ(runForErrors({"/off"}, &rc).rfind("Could not disable Velmor logon auditing: ", 0),
              0u);
    EXPECT_EQ(rc, 1);
}

TEST(Dispatch, ReportsWarnWhenAuditingIsDisabled) {
    Sandbox sandbox;
    EXPECT_EQ(runAndCapture({"/list"}).rfind(kWarning, 0), 0u);
    EXPECT_EQ(runAndCapture({"/TIME"}).rfind(kWarning, 0), 0u);
    ASSERT_EQ(createKey(kVelmor), ERROR_SUCCESS);
    runAndCapture({"/on"});
    EXPECT_EQ(runAndCapture({"/list"}), "");
    EXPECT_EQ(runAndCapture({"/time"}), "");
}

// A saved log's path that names no file gives one line that says what it names, and exit 1;
// e2e/saved_logs.txt has the rest of these lines.
TEST(Dispatch, SavedLogPathsThatAreNoFileSaySo) {
    Sandbox sandbox;
    const struct {
        std::string path;
        const char* cause;
    } rows[] = {
        {makePipe(sandbox), "the path is not a regular file"},
        {kNullDevice, "the path is not a regular file"},
        {VLMAUDIT_TEST_DATA, "the path is a directory"},
        {VLMAUDIT_TEST_DATA "/no-such.evtx", "the file does not exist"},
    };
    for (const auto& row : rows) {
        int rc = -1;
        EXPECT_EQ(runForErrors({"/list", "/file:" + row.path}, &rc),
                  "vlmaudit: /file: " + row.path + " could not be opened (" + row.cause + ").\n");
        EXPECT_EQ(rc, 1) << row.path;
    }
}

TEST(PrintUsage, ShowsTheGivenProgramName) {
    testing::internal::CaptureStdout();
    printUsage(WSTR("x"));
    flushOutput();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Usage: x [ /on | /off | /time | /list | /help ]\n");
}

} // namespace
