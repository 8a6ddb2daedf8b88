#pragma once

#include <string>

// Everything a pipe delivers until its writers close it; closes fd.
std::string drain(int fd);

// What the program prints for the root, under LC_ALL=C and TZ=UTC, with options as a shell
// reads them; its exit status must be status. Its standard error in *errors where asked for.
std::string runProgram(const std::string& root, const std::string& options, int status = 0,
                       std::string* errors = nullptr);
