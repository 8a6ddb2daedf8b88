// Where the stand-in keeps its state: $VLMAUDIT_ROOT, or the default chosen at build time.
#pragma once

#include <string>

std::string standInRoot();
std::string registryDirectory();
std::string registryFilePath();
// eventlog/<Log>.evt, or with the extension given (".evtx").
std::string eventLogPath(const std::string& logName, const char* extension = ".evt");
