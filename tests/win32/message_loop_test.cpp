// The message loop's rules on a scripted queue: the order filters are
// offered messages in, when idle handlers run, which messages re-arm them,
// and that a failed GetMessage is skipped.

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "app/windows/app_module.h"
#include "app/windows/message_loop.h"

namespace morvane {
namespace {

// One scripted step of the queue: a message, a failed get (-1), or the
// number of times the queue looks empty before it.
struct Step {
    UINT message;
    int result = 1;  // what GetMessage answers
    int emptyPeeks = 0;
    WPARAM wParam = 0;
};

// Everything that happens goes into one log, in order.
class CScriptedQueue final : public IMessageQueue {
public:
    CScriptedQueue(std::vector<std::string>& log, std::deque<Step> steps) : m_log(log), m_steps(std::move(steps)) {}

    bool IsEmpty() override {
        if (m_steps.empty() || m_steps.front().emptyPeeks == 0) return false;
        --m_steps.front().emptyPeeks;
        return true;
    }
    int Get(MSG* msg) override {
        if (m_steps.empty()) {
            *msg = MSG{};
            msg->message = WM_QUIT;
            return 0;
        }
        const Step step = m_steps.front();
        m_steps.pop_front();
        *msg = MSG{};
        msg->message = step.message;
        msg->wParam = step.wParam;
        if (step.result == 0) msg->message = WM_QUIT;
        return step.result;
    }
    void TranslateAndDispatch(const MSG& msg) override { m_log.push_back("dispatch " + std::to_string(msg.message)); }

private:
    std::vector<std::string>& m_log;
    std::deque<Step> m_steps;
};

class CLoggingFilter final : public CMessageFilter {
public:
    CLoggingFilter(std::vector<std::string>& log, std::string name, UINT consumes)
        : m_log(log), m_name(std::move(name)), m_consumes(consumes) {}
    bool PreTranslateMessage(MSG* msg) override {
        m_log.push_back(m_name + " " + std::to_string(msg->message));
        return msg->message == m_consumes;
    }

private:
    std::vector<std::string>& m_log;
    std::string m_name;
    UINT m_consumes;
};

class CLoggingIdle final : public CIdleHandler {
public:
    CLoggingIdle(std::vector<std::string>& log, std::string name, bool more = false)
        : m_log(log), m_name(std::move(name)), m_more(more) {}
    bool OnIdle() override {
        m_log.push_back(m_name);
        return m_more;
    }

private:
    std::vector<std::string>& m_log;
    std::string m_name;
    bool m_more;
};

using Log = std::vector<std::string>;

TEST(MessageLoop, FiltersAreOfferedLastRegisteredFirstAndTheFirstThatConsumesEndsTheOffering) {
    Log log;
    CScriptedQueue queue(log, {{WM_KEYDOWN}, {WM_CHAR}, {WM_USER}, {WM_QUIT, 0, 0, 7}});
    CLoggingFilter first(log, "first", WM_KEYDOWN);
    CLoggingFilter second(log, "second", WM_CHAR);
    CMessageLoop loop(queue);
    loop.AddMessageFilter(&first);
    loop.AddMessageFilter(&second);
    EXPECT_EQ(loop.Run(), 7);
    const Log expected = {
        "second 256", "first 256",                      // consumed by the first registered
        "second 258",                                   // consumed by the last: the first never sees it
        "second 1024", "first 1024", "dispatch 1024"};  // nobody takes it
    EXPECT_EQ(log, expected);
}

TEST(MessageLoop, ARemovedFilterIsNoLongerOffered) {
    Log log;
    CScriptedQueue queue(log, {{WM_USER}, {WM_QUIT, 0}});
    CLoggingFilter first(log, "first", 0);
    CLoggingFilter second(log, "second", 0);
    CMessageLoop loop(queue);
    loop.AddMessageFilter(&first);
    loop.AddMessageFilter(&second);
    loop.RemoveMessageFilter(&second);
    loop.Run();
    EXPECT_EQ(log, (Log{"first 1024", "dispatch 1024"}));
}

TEST(MessageLoop, IdleHandlersRunOncePerArmingInRegistrationOrder) {
    Log log;
    // Empty at the start, then twice empty before the second message: the
    // handlers run once each time, however long the queue stays empty and
    // even when a handler says it has more to do.
    CScriptedQueue queue(log, {{WM_USER, 1, 3}, {WM_USER + 1, 1, 2}, {WM_QUIT, 0, 2}});
    CLoggingIdle a(log, "idle a", /*more=*/true);
    CLoggingIdle b(log, "idle b");
    CMessageLoop loop(queue);
    loop.AddIdleHandler(&a);
    loop.AddIdleHandler(&b);
    loop.Run();
    const Log expected = {"idle a", "idle b", "dispatch 1024", "idle a", "idle b", "dispatch 1025",
                          "idle a", "idle b"};
    EXPECT_EQ(log, expected);
}

TEST(MessageLoop, MouseMovesPaintsAndTheSystemTimerDoNotRearmIdleProcessing) {
    for (const UINT quiet : {UINT{WM_MOUSEMOVE}, UINT{WM_NCMOUSEMOVE}, UINT{WM_PAINT}, UINT{0x0118}}) {
        Log log;
        // Idle ran before the first message; the queue is empty again after
        // the quiet message, but idle stays disarmed until an ordinary one.
        CScriptedQueue queue(log, {{WM_USER, 1, 1}, {quiet, 1, 1}, {WM_QUIT, 0, 1}});
        CLoggingIdle idle(log, "idle");
        CMessageLoop loop(queue);
        loop.AddIdleHandler(&idle);
        loop.Run();
        const Log expected = {"idle", "dispatch 1024", "idle", "dispatch " + std::to_string(quiet)};
        EXPECT_EQ(log, expected) << "message " << quiet;
        EXPECT_FALSE(CMessageLoop::IsIdleMessage(MSG{nullptr, quiet, 0, 0, 0, {}}));
    }
    EXPECT_TRUE(CMessageLoop::IsIdleMessage(MSG{nullptr, WM_KEYDOWN, 0, 0, 0, {}}));
    EXPECT_TRUE(CMessageLoop::IsIdleMessage(MSG{nullptr, WM_TIMER, 0, 0, 0, {}}));
}

TEST(MessageLoop, AFailedGetIsSkippedAndTheLoopGoesOn) {
    Log log;
    CScriptedQueue queue(log, {{WM_USER}, {WM_USER + 5, -1}, {WM_USER + 1}, {WM_QUIT, 0, 0, 3}});
    CLoggingFilter filter(log, "filter", 0);
    CMessageLoop loop(queue);
    loop.AddMessageFilter(&filter);
    EXPECT_EQ(loop.Run(), 3);
    EXPECT_EQ(log, (Log{"filter 1024", "dispatch 1024", "filter 1025", "dispatch 1025"}));
}

TEST(MessageLoop, RunsOnTheThreadsOwnQueueUntilTheQuitMessage) {
    CMessageLoop loop;
    ::PostMessageA(nullptr, WM_USER, 0, 0);
    ::PostQuitMessage(42);
    EXPECT_EQ(loop.Run(), 42);
}

TEST(AppModule, KeepsOneLoopPerThread) {
    CAppModule module;
    CMessageLoop mine;
    CMessageLoop other;
    EXPECT_EQ(module.GetMessageLoop(), nullptr);
    EXPECT_TRUE(module.AddMessageLoop(&mine));
    EXPECT_FALSE(module.AddMessageLoop(&other));
    EXPECT_EQ(module.GetMessageLoop(), &mine);
    CMessageLoop* seenElsewhere = &other;
    std::thread([&] { seenElsewhere = module.GetMessageLoop(); }).join();
    EXPECT_EQ(seenElsewhere, nullptr);
    EXPECT_TRUE(module.RemoveMessageLoop());
    EXPECT_EQ(module.GetMessageLoop(), nullptr);
    EXPECT_FALSE(module.RemoveMessageLoop());
}

}  // namespace
}  // namespace morvane
