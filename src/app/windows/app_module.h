#pragma once
// The application module: the handle of the program's resources and the
// message loop of each thread that runs one, looked up by thread id.

#include <map>
#include <mutex>

#include "ui/win32/win32_api.h"

namespace morvane {

class CMessageLoop;

class CAppModule {
public:
    void Init(HINSTANCE instance);
    void Term();

    HINSTANCE GetResourceInstance() const;

    // Under the module's lock. Add fails when the thread has a loop already.
    bool AddMessageLoop(CMessageLoop* loop);
    bool RemoveMessageLoop();
    CMessageLoop* GetMessageLoop(DWORD threadId = ::GetCurrentThreadId()) const;

private:
    HINSTANCE m_instance = nullptr;
    mutable std::mutex m_lock;
    std::map<DWORD, CMessageLoop*> m_loops;
};

// The process's module.
CAppModule& AppModule();

}  // namespace morvane
