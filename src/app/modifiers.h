// The modifiers after /list or /time: /file:PATH, /since:WHEN, /until:WHEN, /user:NAME,
// /computer:NAME, /format:text|csv|json and, after /time, /daily; in any order, each at most
// once but /file (one for each log), their names matched without regard to case.
#pragma once

#include "report/report_options.h"

#include <cstdint>
#include <vector>

enum ModifierResult {
    ModifiersNone = 0,  // an argument that names no modifier: error says which
    ModifiersRead = 1,  // options holds them
    ModifiersWrong = 2, // a modifier whose value is wrong: error names it and what it expected
};

struct ModifierError {
    const char* modifier = nullptr;
    const char* expected = nullptr;
    int word = 0; // the index in argv of the first argument that names no modifier
};

// Reads argv[2] on for the report command (CommandList or CommandTime), the values from the
// same arguments of wide (see wideArguments); now is the present moment.
int readModifiers(int command, int argc, char** argv, const std::vector<WString>& wide,
                  uint32_t now, ReportOptions* options, ModifierError* error);

// A moment given as YYYY-MM-DD, YYYY-MM-DDTHH:MM or YYYY-MM-DDTHH:MM:SS (local time, or with
// Z or +HH:MM / -HH:MM after it), today, yesterday or now; 1 when it reads as one.
int readWhen(const WCHAR* text, uint32_t now, int64_t* moment);
