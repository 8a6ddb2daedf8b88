// Command-line arguments and file names between the wide text of the API and Linux's bytes.
#pragma once

#include <string>

// A command-line argument as UTF-16, and a path back as bytes: a Linux file name is any bytes,
// so a byte that is no part of UTF-8 travels as the lone surrogate U+DC80 + (byte - 0x80).
std::basic_string<char16_t> argumentUnits(const char* argument);
std::string pathBytes(const char16_t* path);
