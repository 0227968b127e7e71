#pragma once
// The user-interface thread's message loop: message filters offered each
// message before it is dispatched, idle handlers run when the queue has
// become empty, and the quit message's parameter as its result.

#include <vector>

#include "ui/win32/win32_api.h"

namespace morvane {

class CMessageFilter {
public:
    // True when the message was consumed and must not be dispatched.
    virtual bool PreTranslateMessage(MSG* msg) = 0;

protected:
    ~CMessageFilter() = default;
};

class CIdleHandler {
public:
    // True while there is more idle work (the loop does not ask again
    // before the next message either way).
    virtual bool OnIdle() = 0;

protected:
    ~CIdleHandler() = default;
};

// Where the loop takes its messages from: the thread's queue, or a script
// in tests.
class IMessageQueue {
public:
    // PeekMessage without removing: true when nothing waits.
    virtual bool IsEmpty() = 0;
    // GetMessage: 0 for the quit message, -1 on failure, else nonzero.
    virtual int Get(MSG* msg) = 0;
    virtual void TranslateAndDispatch(const MSG& msg) = 0;

protected:
    ~IMessageQueue() = default;
};

// The current thread's own queue.
IMessageQueue& ThreadMessageQueue();

class CMessageLoop {
public:
    explicit CMessageLoop(IMessageQueue& queue = ThreadMessageQueue()) : m_queue(queue) {}
    CMessageLoop(const CMessageLoop&) = delete;
    CMessageLoop& operator=(const CMessageLoop&) = delete;

    void AddMessageFilter(CMessageFilter* filter);
    void RemoveMessageFilter(CMessageFilter* filter);
    void AddIdleHandler(CIdleHandler* handler);
    void RemoveIdleHandler(CIdleHandler* handler);

    // Until the quit message; returns its wParam.
    int Run();

    // Whether a message arms idle processing again: all but mouse moves,
    // paints and the system timer, which come by themselves and would keep
    // idle work running.
    static bool IsIdleMessage(const MSG& msg);

private:
    bool PreTranslateMessage(MSG* msg);
    // Every idle handler once; then no idle work is left.
    bool OnIdle(int idleCount);

    IMessageQueue& m_queue;
    std::vector<CMessageFilter*> m_filters;
    std::vector<CIdleHandler*> m_idleHandlers;
    MSG m_msg{};
};

}  // namespace morvane
