#include "app/usage.h"

#include <cstdio>

namespace morvane {

void PrintUsage(bool headless) {
    std::printf("Usage: morvane [-in N] [-out N] [-delay S.T] [-play] [-smooth]\n");
    if (headless) std::printf("       morvane --headless [-in N] [-out N] [-delay S.T] [-smooth]\n");
    std::printf(
        "       morvane --list-devices | --help | --version\n"
        "\n"
        "Plays the sound of an input device on an output device 0.1 to 29.9 seconds later.\n"
        "\n"
        "  -in N           capture from input device N (0 = the first; see --list-devices)\n"
        "  -out N          play on output device N\n"
        "  -delay S.T      delay in seconds with one decimal, e.g. 2.5 (default 1.0)\n"
        "  -play           start at once\n"
        "  -smooth         a new delay while playing takes effect at once, without\n"
        "                  refilling: a longer one inserts the difference as silence,\n"
        "                  a shorter one skips it\n");
    if (headless)
        std::printf(
            "  --headless      run without a window and start at once; until Ctrl+C or SIGTERM.\n"
            "                  Reads commands from a terminal or pipe, one per line:\n"
            "                  a delay such as 2.5, + or - (a tenth more or less),\n"
            "                  play, stop, quit\n");
    std::printf(
        "  --list-devices  print the devices: in<TAB>N<TAB>name, out<TAB>N<TAB>name\n"
        "  --help          show this text\n"
        "  --version       show the version\n");
}

}  // namespace morvane
