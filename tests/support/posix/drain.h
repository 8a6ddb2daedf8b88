#pragma once

#include <string>

// Everything a pipe delivers until its writers close it; closes fd.
std::string drain(int fd);
