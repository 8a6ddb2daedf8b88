// The command line: which action a run takes, and the texts the front end writes.
#pragma once

#include "platform.h"

enum CommandCode {
    CommandNone = 0,      // no argument after the program name
    CommandNotOption = 1, // one argument that does not begin with "/"
    CommandTooMany = 2,   // more than one argument
    CommandUnknown = 3,   // "/" and no option of the table
    CommandOn = 4,
    CommandOff = 5,
    CommandTime = 6,
    CommandHelp = 7,
    CommandList = 8,
};

int classifyArguments(int argc, char** argv);
void printUsage(const WCHAR* programName);

// Runs the action the command line selects; returns the process exit code: 1 when the command
// line is not understood (the usage line, and the word that could not be taken on standard
// error), when /on or /off could not write their settings, when a report could not show the
// whole log, or when standard output could not be written (each said on standard error), 0
// otherwise.
int runCommand(int argc, char** argv);
