#include "dispatch.h"

int main(int argc, char** argv) {
    platformStartup();
    return runCommand(argc, argv);
}
