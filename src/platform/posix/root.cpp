#include "root.h"

#include <cstdlib>

std::string standInRoot() {
    const char* root = std::getenv("VLMAUDIT_ROOT");
    return root && *root ? root : VLMAUDIT_DEFAULT_ROOT;
}

std::string registryDirectory() {
    return standInRoot() + "/registry";
}

std::string registryFilePath() {
    return registryDirectory() + "/HKEY_LOCAL_MACHINE.reg";
}

std::string eventLogPath(const std::string& logName, const char* extension) {
    return standInRoot() + "/eventlog/" + logName + extension;
}
