// The one platform header the logic includes: the Windows operations (real or stand-in),
// the UTF-16 unit type WCHAR, and formatted writing to standard output.
#pragma once

#include "platform_api.h"

#include <string>

using WString = std::basic_string<WCHAR>;

// Writes to standard output. The format is narrow; %S takes a UTF-16 string (a null pointer
// prints nothing), %s a narrow string, %d/%u an int/unsigned with an optional width (%4d),
// %% a percent sign.
void printOut(const char* format, ...);

// Hands UTF-16 text to the console layer of the platform (UTF-8 on Linux; the console's wide
// output or UTF-8 with CRLF on Windows).
void writeConsoleText(const WCHAR* text, size_t length);

// UTF-16 <-> UTF-8. Unpaired surrogates and invalid UTF-8 become U+FFFD.
void appendUtf8(std::string& out, const WCHAR* text, size_t length);
WString utf8ToUtf16(const std::string& text);
std::string toUtf8(const WCHAR* text);
