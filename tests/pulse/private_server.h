#pragma once
// A private sound server started through scripts/pulse-server.sh, and the
// command-line tools run against it.

#include <string>

namespace morvane::pulsetest {

class CPrivateServer {
public:
    CPrivateServer();  // makes a fresh directory; does not start
    ~CPrivateServer();  // stops the server and removes the directory
    CPrivateServer(const CPrivateServer&) = delete;
    CPrivateServer& operator=(const CPrivateServer&) = delete;

    bool Start();
    bool Stop();
    bool Kill();  // SIGKILL: the server vanishes without a goodbye
    bool Running() const;

    const std::string& Dir() const { return m_dir; }
    std::string Address() const { return "unix:" + m_dir + "/run/pulse/native"; }
    // `command` run by the shell with this server's environment.
    std::string Env() const;
    int Run(const std::string& command) const;
    std::string Output(const std::string& command) const;

private:
    int Pid() const;
    std::string m_dir;
};

// The server every test of this program shares, started once.
CPrivateServer& SharedServer();

}  // namespace morvane::pulsetest
