#include "dispatch.h"

#include <clocale>

int main(int argc, char** argv) {
    // Dates, times and their separators follow the user's locale.
    std::setlocale(LC_ALL, "");
    return runCommand(argc, argv);
}
