#include "dispatch.h"

#include "modifiers.h"
#include "report/activity_list.h"
#include "report/logon_times.h"
#include "report/time_text.h"
#include "settings/audit_settings.h"

#include <cstdio>

namespace {

struct OptionEntry {
    const char* option;
    CommandCode code;
};

const OptionEntry kOptions[] = {
    {"/on", CommandOn},     {"/off", CommandOff},   {"/time", CommandTime},
    {"/list", CommandList}, {"/help", CommandHelp},
};

const char kVelmorKeyPath[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Velmor";

// Why a registry write failed, in plain words, on standard error.
void printFailure(const char* what, LONG status, const char* keyPath) {
    if (status == ERROR_FILE_NOT_FOUND && keyPath)
        printError("%s: the registry key %s does not exist.\n", what, keyPath);
    else
        printError("%s: %s.\n", what, errorText(status));
}

int enableAuditing() {
    int exitCode = 0;
    LONG status = ERROR_SUCCESS;
    if (!registerEventSource(&status)) {
        printFailure("Could not register the wsxlum event source", status, nullptr);
        exitCode = 1;
    }
    if (!setAuditingFlag(1, &status)) {
        printFailure("Could not enable Velmor logon auditing", status, kVelmorKeyPath);
        exitCode = 1;
    }
    return exitCode;
}

int disableAuditing() {
    LONG status = ERROR_SUCCESS;
    if (setAuditingFlag(0, &status))
        return 0;
    printFailure("Could not disable Velmor logon auditing", status, kVelmorKeyPath);
    return 1;
}

const char* optionName(int command) {
    for (const OptionEntry& entry : kOptions)
        if (entry.code == command)
            return entry.option;
    return "";
}

// A command line that is not understood: the usage line on standard output, as ever, and on
// standard error the first word that could not be taken, argv[word]; 1.
int refuseCommandLine(int argc, char** argv, int word) {
    printUsage(WSTR("vlmaudit"));
    std::vector<WString> wide = wideArguments(argc, argv);
    const WCHAR* text = static_cast<size_t>(word) < wide.size() ? wide[word].c_str() : WSTR("");
    if (*text)
        printError("vlmaudit: %S is not ", text);
    else
        printError("vlmaudit: an empty argument is not ");
    int command = word > 1 ? classifyArguments(2, argv) : CommandUnknown;
    if (command == CommandList || command == CommandTime)
        printError("an option or a modifier of %s.\n", optionName(command));
    else if (word > 1)
        printError("a modifier of %s, which takes none.\n", optionName(command));
    else
        printError("an option.\n");
    return 1;
}

// An option with more arguments after it: /list or /time with modifiers runs its report, and
// anything else is refused. The exit code.
int runWithModifiers(int argc, char** argv) {
    int command = classifyArguments(2, argv);
    if (command == CommandNotOption || command == CommandUnknown)
        return refuseCommandLine(argc, argv, 1);
    if (command != CommandList && command != CommandTime)
        return refuseCommandLine(argc, argv, 2);
    ReportOptions options;
    ModifierError error;
    switch (readModifiers(command, argc, argv, wideArguments(argc, argv), currentSecondsSince1970(),
                          &options, &error)) {
    case ModifiersRead:
        return command == CommandList ? runActivityListCommand(options)
                                      : runLogonTimeCommand(options);
    case ModifiersWrong:
        printError("vlmaudit: %s: expected %s.\n", error.modifier, error.expected);
        return 1;
    default:
        return refuseCommandLine(argc, argv, error.word);
    }
}

} // namespace

int classifyArguments(int argc, char** argv) {
    if (argc < 2)
        return CommandNone;
    if (argc > 2)
        return CommandTooMany;
    if (argv[1][0] != '/')
        return CommandNotOption;
    for (const OptionEntry& entry : kOptions)
        if (_stricmp(argv[1], entry.option) == 0)
            return entry.code;
    return CommandUnknown;
}

void printUsage(const WCHAR* programName) {
    printOut("Usage: %S [", programName);
    int first = 1;
    for (const OptionEntry& entry : kOptions) {
        if (!first)
            printOut(" |");
        printOut(" %s", entry.option);
        first = 0;
    }
    printOut(" ]\n");
}

int runCommand(int argc, char** argv) {
    int exitCode = 0;
    switch (classifyArguments(argc, argv)) {
    case CommandNone:
        printOut(isAuditingEnabled() ? "Velmor logon auditing is currently enabled.\n"
                                     : "Velmor logon auditing is not currently enabled.\n");
        break;
    case CommandOn:
        exitCode = enableAuditing();
        break;
    case CommandOff:
        exitCode = disableAuditing();
        break;
    case CommandTime:
        exitCode = runLogonTimeCommand();
        break;
    case CommandList:
        exitCode = runActivityListCommand();
        break;
    case CommandTooMany:
        exitCode = runWithModifiers(argc, argv);
        break;
    case CommandHelp:
        printUsage(WSTR("vlmaudit"));
        break;
    default:
        exitCode = refuseCommandLine(argc, argv, 1);
        break;
    }
    if (standardOutputFailed()) {
        printError("vlmaudit: the output could not be written; it is incomplete.\n");
        exitCode = 1;
    }
    return exitCode;
}
