// Stands in for the processes around the presence marker:
//   fwmarker_probe <key> register     registers like the updater, prints "ready", then waits
//                                     for its standard input to close and exits normally
//   fwmarker_probe <key> check        exit code 0 when an updater is seen, 1 otherwise
//   fwmarker_probe <key> unregister   unregisters without having registered
// <key> is a hexadecimal number.

#include "FWUpdaterDetection.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 64;
    setvbuf(stdout, nullptr, _IONBF, 0);
    _fwUpdateSetShmKey(static_cast<int>(strtoul(argv[1], nullptr, 16)));
    const char* action = argv[2];

    if (strcmp(action, "register") == 0) {
        atexit(_fwUpdateClearSM);
        if (!fwupdateRegister())
            return 2;
        fputs("ready\n", stdout);
        char c;
        while (read(0, &c, 1) > 0) {
        }
        exit(0);
    }
    if (strcmp(action, "check") == 0)
        return fwUpdaterActive() ? 0 : 1;
    if (strcmp(action, "unregister") == 0) {
        fwupdateUnRegister();
        return 0;
    }
    return 64;
}
