// Watches for stalls of the whole machine while a real-time test runs: a
// thread that asks to wake every 2 ms, at a real-time priority where it may
// (below the sound server's own), notes each wake-up that came much later.
// A late wake-up at that priority means nothing on this machine could run
// (a virtual machine's processor taken away, say), and then a sound server or
// the program under test may have lost audio through no fault of its own.
//
//   morvane_stall_watch FILE [THRESHOLD_MS]
//
// Appends one line per stall to FILE, "at_s=T stall_ms=D" (T from the start),
// until SIGTERM or SIGINT. The first line says the priority it runs at.
#include <sched.h>
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

double Seconds(const timespec& t) { return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE [THRESHOLD_MS]\n", argv[0]);
        return 2;
    }
    const double threshold = argc == 3 ? std::atof(argv[2]) / 1000.0 : 0.02;
    if (threshold <= 0) {
        std::fprintf(stderr, "%s: the threshold must be a positive number of ms\n", argv[0]);
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "a");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    // Below the sound server's data threads (88 by default), so that this
    // never takes time from them.
    sched_param param{};
    param.sched_priority = 40;
    const bool realtime = sched_setscheduler(0, SCHED_FIFO, &param) == 0;
    std::fprintf(out, "priority=%s threshold_ms=%.0f\n", realtime ? "fifo-40" : "normal",
                 threshold * 1000);
    std::fflush(out);

    timespec start{}, before{}, after{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const timespec tick{0, 2000000};
    while (!g_stop) {
        clock_gettime(CLOCK_MONOTONIC, &before);
        if (clock_nanosleep(CLOCK_MONOTONIC, 0, &tick, nullptr) == EINTR) continue;
        clock_gettime(CLOCK_MONOTONIC, &after);
        const double late = Seconds(after) - Seconds(before) - 0.002;
        if (late >= threshold) {
            std::fprintf(out, "at_s=%.3f stall_ms=%.1f\n", Seconds(before) - Seconds(start),
                         late * 1000);
            std::fflush(out);
        }
    }
    std::fclose(out);
    return 0;
}
