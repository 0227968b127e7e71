// The audio thread's main loop, without a server: work handed to it while it
// gathers messages is done at once, its timers keep their time, messages wait
// only when nobody expects them, and signals stay with the program.

#include <gtest/gtest.h>
#include <pulse/mainloop-api.h>
#include <pulse/timeval.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <string>

#include "audio/pulse/pulse_loop.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;

// A batch no test may wait out: anything left waiting for it hangs the test.
constexpr auto kEndless = std::chrono::hours(1);
constexpr auto kWatchdog = 30s;

// Arms a timer `ms` from now that fulfils `done` when it fires.
void After(pa_mainloop_api* api, int ms, std::promise<void>* done) {
    timeval tv;
    pa_timeval_add(pa_gettimeofday(&tv), static_cast<pa_usec_t>(ms) * PA_USEC_PER_MSEC);
    api->time_new(
        api, &tv,
        [](pa_mainloop_api* a, pa_time_event* e, const timeval*, void* p) {
            a->time_free(e);
            static_cast<std::promise<void>*>(p)->set_value();
        },
        done);
}

// Starts the loop and lets it wake once, so that it is inside a batch.
void StartInsideABatch(CPulseLoop& loop) {
    ASSERT_TRUE(loop.Start("loop-test"));
    std::promise<void> woke;
    loop.Lock();
    After(loop.Api(), 0, &woke);
    loop.Unlock();
    ASSERT_EQ(woke.get_future().wait_for(kWatchdog), std::future_status::ready);
}

TEST(PulseLoop, TimersSetFromOutsideFireDuringABatch) {
    CPulseLoop loop(kEndless);
    StartInsideABatch(loop);
    std::promise<void> fired;
    loop.Lock();
    After(loop.Api(), 10, &fired);
    loop.Unlock();
    EXPECT_EQ(fired.get_future().wait_for(kWatchdog), std::future_status::ready);
}

// Messages from the server are data on a descriptor; a hurried loop takes them
// as they come instead of at the end of its batch.
TEST(PulseLoop, AHurriedLoopTakesMessagesAtOnce) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    CPulseLoop loop(kEndless);
    bool expecting = false;
    loop.SetHurryCheck([](void* e) { return *static_cast<bool*>(e); }, &expecting);
    std::promise<void> read;
    StartInsideABatch(loop);
    loop.Lock();
    expecting = true;
    pa_io_event* io = loop.Api()->io_new(
        loop.Api(), fds[0], PA_IO_EVENT_INPUT,
        [](pa_mainloop_api* a, pa_io_event* e, int fd, pa_io_event_flags_t, void* p) {
            char c;
            (void)!::read(fd, &c, 1);
            a->io_enable(e, PA_IO_EVENT_NULL);
            static_cast<std::promise<void>*>(p)->set_value();
        },
        &read);
    loop.Unlock();
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_EQ(read.get_future().wait_for(kWatchdog), std::future_status::ready);
    loop.Lock();
    loop.Api()->io_free(io);
    loop.Unlock();
    close(fds[0]);
    close(fds[1]);
}

// The program takes SIGTERM on a thread of its choosing; the loop's thread must
// not be picked, or the default action ends the process.
TEST(PulseLoop, TheLoopThreadBlocksEverySignal) {
    CPulseLoop loop(10ms);
    ASSERT_TRUE(loop.Start("loop-signals"));
    std::promise<std::string> blocked;
    loop.Lock();
    pa_mainloop_api_once(
        loop.Api(),
        [](pa_mainloop_api*, void* p) {
            std::ifstream status("/proc/thread-self/status");
            std::string line, mask;
            while (std::getline(status, line))
                if (line.rfind("SigBlk:", 0) == 0) mask = line.substr(line.find_last_of(" \t") + 1);
            static_cast<std::promise<std::string>*>(p)->set_value(mask);
        },
        &blocked);
    loop.Unlock();
    std::future<std::string> mask = blocked.get_future();
    ASSERT_EQ(mask.wait_for(kWatchdog), std::future_status::ready);
    // SIGTERM is signal 15: bit 14 of the mask's lowest hex digits.
    const unsigned long bits = std::stoul(mask.get().substr(8), nullptr, 16);
    EXPECT_NE(bits & (1ul << (SIGTERM - 1)), 0ul);
    EXPECT_NE(bits & (1ul << (SIGINT - 1)), 0ul);
}

}  // namespace
}  // namespace morvane
