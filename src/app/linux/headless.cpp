#include "app/linux/headless.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "app/app_run.h"
#include "app/server_watch.h"
#include "ui/headless_host.h"
#include "ui/main_dlg.h"

namespace morvane {
namespace {
constexpr int kServerCheckMs = 500;

bool IsTerminalOrPipe(int fd) {
    struct stat st {};
    return isatty(fd) || (fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode));
}

// Reads command lines from standard input until it ends or `wake` is
// written to.
void ReadCommands(CHeadlessHost& host, int wake) {
    std::string pending;
    char buffer[256];
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents != 0) return;
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) return;  // end of input: keep running until a signal
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            if (!host.PostInput(pending.substr(0, nl))) return;
            pending.erase(0, nl + 1);
        }
    }
}

}  // namespace

int RunHeadless(IWaveApi& wave, ITuner& tuner) {
    // Signals are taken by one thread with sigwait, so none interrupts the
    // audio thread or the loop.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGUSR1);  // our own: ends the waiting thread
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const bool terminal = isatty(STDERR_FILENO) != 0;
    CHeadlessHost host(stderr, terminal);
    int code = 0;
    {
        CMainDlg dialog(wave, host, tuner);

        int wake[2];
        if (pipe(wake) != 0) return 1;
        std::thread signals([&] {
            int sig = 0;
            sigwait(&stopSignals, &sig);
            if (sig != SIGUSR1) host.PostExit();
        });
        std::thread input;
        if (IsTerminalOrPipe(STDIN_FILENO)) input = std::thread(ReadCommands, std::ref(host), wake[0]);
        CServerWatch serverWatch(wave, dialog.Engine(), stderr);
        std::thread watch([&] {
            for (;;) {
                pollfd fd{wake[0], POLLIN, 0};
                if (poll(&fd, 1, kServerCheckMs) > 0) return;
                if (!host.PostCall([&] { serverWatch.Check(); })) return;
            }
        });

        code = RunMainWindow(host, dialog, /*playAtOnce=*/true);

        // Wake and end the helper threads.
        (void)!write(wake[1], "x", 1);
        if (input.joinable()) input.join();
        watch.join();
        pthread_kill(signals.native_handle(), SIGUSR1);
        signals.join();
        close(wake[0]);
        close(wake[1]);
    }
    return code;
}

}  // namespace morvane
