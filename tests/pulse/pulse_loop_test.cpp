// The audio thread's main loop, without a server: work handed to it while it
// lets messages gather is done at once, its timers and the planner's wake-up
// time hold, messages are taken at once when the plan says so or when they
// are already waiting, and signals stay with the program.

#include <gtest/gtest.h>
#include <pulse/mainloop-api.h>
#include <pulse/timeval.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "audio/pulse/pulse_loop.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;

constexpr auto kWatchdog = 30s;

// A planner whose pause no test may wait out (anything left waiting for it
// hangs the test) unless `hurry` is set; it counts its calls and can ask to
// be woken `wakeInMs` from its call.
struct TestPlanner {
    std::atomic<bool> hurry{false};
    std::atomic<int> wakeInMs{-1};
    std::atomic<int> calls{0};
    static CPulseLoop::Plan Plan(void* p) {
        auto* self = static_cast<TestPlanner*>(p);
        ++self->calls;
        const auto now = CPulseLoop::Clock::now();
        CPulseLoop::Plan plan;
        plan.lookAt = self->hurry ? now : now + std::chrono::hours(1);
        if (self->wakeInMs >= 0) plan.wakeAt = now + std::chrono::milliseconds(self->wakeInMs.load());
        return plan;
    }
    void Attach(CPulseLoop& loop) { loop.SetPlanner(&TestPlanner::Plan, this); }
};

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

// Starts the loop and lets it wake once, so that it is inside a pause.
void StartInsideAPause(CPulseLoop& loop) {
    ASSERT_TRUE(loop.Start("loop-test"));
    std::promise<void> woke;
    loop.Lock();
    After(loop.Api(), 0, &woke);
    loop.Unlock();
    ASSERT_EQ(woke.get_future().wait_for(kWatchdog), std::future_status::ready);
}

// A loop with the test planner, started and inside a pause. The loop is
// declared last so that its thread stops before the planner goes.
class PausedLoop : public ::testing::Test {
protected:
    void SetUp() override {
        planner.Attach(loop);
        StartInsideAPause(loop);
    }
    TestPlanner planner;
    CPulseLoop loop;
};

TEST_F(PausedLoop, TimersSetFromOutsideFireDuringAPause) {
    std::promise<void> fired;
    loop.Lock();
    After(loop.Api(), 10, &fired);
    loop.Unlock();
    EXPECT_EQ(fired.get_future().wait_for(kWatchdog), std::future_status::ready);
}

// With no timer at all, the planner's wake-up time still wakes the loop.
TEST_F(PausedLoop, ThePlannersWakeUpTimeHoldsWithoutTimers) {
    loop.Lock();
    planner.wakeInMs = 10;
    const int before = planner.calls;
    loop.Wake();
    loop.Unlock();
    // The wake above plans once; only the wake-up time brings the calls after.
    const auto limit = std::chrono::steady_clock::now() + kWatchdog;
    while (planner.calls < before + 5 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(1ms);
    EXPECT_GE(planner.calls, before + 5);
}

// Messages from the server are data on a descriptor; when the plan asks for
// them at once the loop takes them as they come instead of after its pause.
TEST_F(PausedLoop, AHurriedLoopTakesMessagesAtOnce) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::promise<void> read;
    loop.Lock();
    planner.hurry = true;
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

// A server that sends captured sound over its socket has one message ready
// per pass of the loop; everything already waiting is taken before a pause,
// or capture falls behind real time.
TEST_F(PausedLoop, MessagesAlreadyWaitingAreAllTakenBeforeAPause) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    constexpr int kMessages = 5;
    ASSERT_EQ(write(fds[1], "12345", kMessages), kMessages);
    struct Reader {
        int taken = 0;
        std::promise<void> all;
    } reader;
    loop.Lock();
    pa_io_event* io = loop.Api()->io_new(
        loop.Api(), fds[0], PA_IO_EVENT_INPUT,
        [](pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* p) {
            auto* r = static_cast<Reader*>(p);
            char c;
            if (::read(fd, &c, 1) == 1 && ++r->taken == kMessages) r->all.set_value();
        },
        &reader);
    loop.Unlock();
    EXPECT_EQ(reader.all.get_future().wait_for(kWatchdog), std::future_status::ready);
    loop.Lock();
    loop.Api()->io_free(io);
    loop.Unlock();
    close(fds[0]);
    close(fds[1]);
}

// The program takes SIGTERM on a thread of its choosing; the loop's thread must
// not be picked, or the default action ends the process.
TEST(PulseLoop, TheLoopThreadBlocksEverySignal) {
    CPulseLoop loop;
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
