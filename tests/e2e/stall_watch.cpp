// Watches for stalls of the machine while a real-time test runs: on each
// processor a thread that asks to wake every 2 ms, at a real-time priority
// where it may (below the sound server's own), notes each wake-up that came
// much later. A late wake-up at that priority means nothing could run on
// that processor (a virtual machine's processor taken away, say), and then a
// sound server or the program under test may have lost audio through no
// fault of its own.
//
//   morvane_stall_watch FILE [THRESHOLD_MS]
//
// Appends one line per stall to FILE, "at_s=T stall_ms=D cpu=N" (T from the
// start), until SIGTERM or SIGINT. The first line says the priority it runs
// at.
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

double Seconds(const timespec& t) { return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9; }

std::mutex g_outMutex;

void Watch(std::FILE* out, double threshold, timespec start, int cpu) {
    timespec before{}, after{};
    const timespec tick{0, 2000000};
    while (!g_stop) {
        clock_gettime(CLOCK_MONOTONIC, &before);
        if (clock_nanosleep(CLOCK_MONOTONIC, 0, &tick, nullptr) == EINTR) continue;
        clock_gettime(CLOCK_MONOTONIC, &after);
        const double late = Seconds(after) - Seconds(before) - 0.002;
        if (late >= threshold) {
            std::lock_guard lock(g_outMutex);
            std::fprintf(out, "at_s=%.3f stall_ms=%.1f cpu=%d\n", Seconds(before) - Seconds(start), late * 1000, cpu);
            std::fflush(out);
        }
    }
}

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
    // The threads are started with the signals held, so that only the main
    // thread takes them.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);

    // Below the sound server's data threads (88 by default), so that this
    // never takes time from them; the threads inherit it.
    sched_param param{};
    param.sched_priority = 40;
    const bool realtime = sched_setscheduler(0, SCHED_FIFO, &param) == 0;
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    std::fprintf(out, "priority=%s threshold_ms=%.0f cpus=%d\n", realtime ? "fifo-40" : "normal",
                 threshold * 1000, CPU_COUNT(&allowed));
    std::fflush(out);

    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::vector<std::thread> watches;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        watches.emplace_back(Watch, out, threshold, start, cpu);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        pthread_setaffinity_np(watches.back().native_handle(), sizeof one, &one);
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    // Signals held but while waiting: one cannot come between the check and
    // the wait.
    while (!g_stop) sigsuspend(&old);
    for (std::thread& t : watches) t.join();
    std::fclose(out);
    return 0;
}
