#include "private_server.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace morvane::pulsetest {
namespace {
CPrivateServer* g_shared = nullptr;

class SharedServerEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        g_shared = new CPrivateServer;
        ASSERT_TRUE(g_shared->Start()) << "cannot start a sound server in " << g_shared->Dir();
    }
    void TearDown() override {
        delete g_shared;
        g_shared = nullptr;
    }
};

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new SharedServerEnvironment);

std::string Script() { return MORVANE_PULSE_SERVER_SCRIPT; }
}  // namespace

CPrivateServer& SharedServer() { return *g_shared; }

CPrivateServer::CPrivateServer() {
    char tmpl[] = "/tmp/morvane-pulse-XXXXXX";
    if (mkdtemp(tmpl) != nullptr) m_dir = tmpl;
}

CPrivateServer::~CPrivateServer() {
    Stop();
    if (!m_dir.empty()) std::system(("rm -rf '" + m_dir + "'").c_str());
}

bool CPrivateServer::Start() {
    return std::system(("'" + Script() + "' start '" + m_dir + "' >/dev/null").c_str()) == 0;
}

bool CPrivateServer::Stop() {
    return std::system(("'" + Script() + "' stop '" + m_dir + "' >/dev/null").c_str()) == 0;
}

int CPrivateServer::Pid() const {
    std::ifstream in(m_dir + "/run/pulse/pid");
    int pid = 0;
    in >> pid;
    return pid;
}

bool CPrivateServer::Running() const {
    const int pid = Pid();
    return pid > 0 && kill(pid, 0) == 0;
}

bool CPrivateServer::Kill() {
    const int pid = Pid();
    if (pid <= 0 || kill(pid, SIGKILL) != 0) return false;
    for (int i = 0; i < 200 && kill(pid, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return kill(pid, 0) != 0;
}

std::string CPrivateServer::Env() const {
    return "PULSE_SERVER=" + Address() + " HOME='" + m_dir + "/home' PULSE_CLIENTCONFIG='" + m_dir +
           "/client.conf' ";
}

int CPrivateServer::Run(const std::string& command) const {
    const int status = std::system((Env() + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string CPrivateServer::Output(const std::string& command) const {
    std::string out;
    if (FILE* p = popen((Env() + command).c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

}  // namespace morvane::pulsetest
