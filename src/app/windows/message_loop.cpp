#include "app/windows/message_loop.h"

#include <algorithm>

namespace morvane {
namespace {

constexpr UINT kSystemTimer = 0x0118;

class CThreadMessageQueue final : public IMessageQueue {
public:
    bool IsEmpty() override {
        MSG msg;
        return !::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    int Get(MSG* msg) override { return ::GetMessageA(msg, nullptr, 0, 0); }
    void TranslateAndDispatch(const MSG& msg) override {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
};

template <typename T>
void Remove(std::vector<T*>& list, T* item) {
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

IMessageQueue& ThreadMessageQueue() {
    static CThreadMessageQueue queue;
    return queue;
}

void CMessageLoop::AddMessageFilter(CMessageFilter* filter) { m_filters.push_back(filter); }
void CMessageLoop::RemoveMessageFilter(CMessageFilter* filter) { Remove(m_filters, filter); }
void CMessageLoop::AddIdleHandler(CIdleHandler* handler) { m_idleHandlers.push_back(handler); }
void CMessageLoop::RemoveIdleHandler(CIdleHandler* handler) { Remove(m_idleHandlers, handler); }

bool CMessageLoop::IsIdleMessage(const MSG& msg) {
    switch (msg.message) {
        case WM_MOUSEMOVE:
        case WM_NCMOUSEMOVE:
        case WM_PAINT:
        case kSystemTimer:
            return false;
        default:
            return true;
    }
}

int CMessageLoop::Run() {
    bool idle = true;
    int idleCount = 0;
    for (;;) {
        while (idle && m_queue.IsEmpty()) {
            if (!OnIdle(idleCount++)) idle = false;
        }
        const int got = m_queue.Get(&m_msg);
        if (got == -1) continue;  // failed: nothing to process
        if (got == 0) break;      // the quit message
        if (!PreTranslateMessage(&m_msg)) m_queue.TranslateAndDispatch(m_msg);
        if (IsIdleMessage(m_msg)) {
            idle = true;
            idleCount = 0;
        }
    }
    return static_cast<int>(m_msg.wParam);
}

bool CMessageLoop::PreTranslateMessage(MSG* msg) {
    // Last registered first. A filter may take itself (or another) off the
    // list while it works, as a window that is destroyed does.
    for (size_t i = m_filters.size(); i-- > 0;) {
        if (i >= m_filters.size()) continue;
        if (m_filters[i]->PreTranslateMessage(msg)) return true;
    }
    return false;
}

bool CMessageLoop::OnIdle(int) {
    for (size_t i = 0; i < m_idleHandlers.size(); ++i) m_idleHandlers[i]->OnIdle();
    return false;
}

}  // namespace morvane
