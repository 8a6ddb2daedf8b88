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

// /list or /time with modifiers after it: the report's exit code, or -1 when the arguments
// are no modifiers (the usage line then, as ever).
int runReportWithModifiers(int argc, char** argv) {
    int command = classifyArguments(2, argv);
    if (command != CommandList && command != CommandTime)
        return -1;
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
        return -1;
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
        exitCode = runReportWithModifiers(argc, argv);
        if (exitCode < 0) {
            printUsage(WSTR("vlmaudit"));
            exitCode = 0;
        }
        break;
    default:
        printUsage(WSTR("vlmaudit"));
        break;
    }
    if (standardOutputFailed()) {
        printError("vlmaudit: the output could not be written; it is incomplete.\n");
        exitCode = 1;
    }
    return exitCode;
}
