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

TEST(Dispatch, WrongCommandLinesPrintExactlyTheUsageLine) {
    Sandbox sandbox;
    for (auto args : std::vector<std::vector<std::string>>{
             {"on"}, {""}, {"/"}, {"/x"}, {"/on", "extra"}, {"/help"}, {"/HELP"}}) {
        int rc = -1;
        EXPECT_EQ(runAndCapture(args, &rc), kUsage) << args[0];
        EXPECT_EQ(rc, 0);
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

TEST(PrintUsage, ShowsTheGivenProgramName) {
    testing::internal::CaptureStdout();
    printUsage(WSTR("x"));
    flushOutput();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Usage: x [ /on | /off | /time | /list | /help ]\n");
}

} // namespace
