#include "app/windows/app_module.h"

namespace morvane {

void CAppModule::Init(HINSTANCE instance) {
    std::lock_guard lock(m_lock);
    m_instance = instance;
}

void CAppModule::Term() {
    std::lock_guard lock(m_lock);
    m_loops.clear();
}

// Before Init (as in tests) the program's own module is used.
HINSTANCE CAppModule::GetResourceInstance() const {
    std::lock_guard lock(m_lock);
    return m_instance != nullptr ? m_instance : ::GetModuleHandleA(nullptr);
}

bool CAppModule::AddMessageLoop(CMessageLoop* loop) {
    std::lock_guard lock(m_lock);
    return m_loops.emplace(::GetCurrentThreadId(), loop).second;
}

bool CAppModule::RemoveMessageLoop() {
    std::lock_guard lock(m_lock);
    return m_loops.erase(::GetCurrentThreadId()) != 0;
}

CMessageLoop* CAppModule::GetMessageLoop(DWORD threadId) const {
    std::lock_guard lock(m_lock);
    const auto it = m_loops.find(threadId);
    return it == m_loops.end() ? nullptr : it->second;
}

CAppModule& AppModule() {
    static CAppModule module;
    return module;
}

}  // namespace morvane
