#include "private_server.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace morvane::winmmtest {
namespace {

constexpr wchar_t kDirVariable[] = L"MORVANE_WINMM_SERVER_DIR";
// kNonAsciiSink in the host shell's printf notation.
constexpr char kNonAsciiSinkOctal[] = "K\\303\\274che";

std::string Env(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD n = GetEnvironmentVariableW(name, value, 1024);
    if (n == 0 || n >= 1024) return {};
    return std::string(value, value + n);  // our variables hold ASCII paths only
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Wine maps the host's root to drive Z:.
std::wstring DosPath(const std::string& hostPath) {
    std::wstring path = L"Z:" + Wide(hostPath);
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// Runs a shell command on the host. Wine gives no exit code for host
// programs and does not wait for them: the command writes its code to
// `done`, which is polled for; without `done` nothing is waited for.
int HostShell(const std::string& command, const std::string& done = {}, int timeoutMs = 20000) {
    const std::string line =
        "/bin/sh -c \"" + command + (done.empty() ? "" : "; echo $? > '" + done + "'") + "\"";
    std::wstring wline = Wide(line);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, wline.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (done.empty()) return 0;
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (FILE* f = _wfopen(DosPath(done).c_str(), L"r")) {
            int code = -1;
            const bool read = std::fscanf(f, "%d", &code) == 1;
            std::fclose(f);
            if (read) return code;
        }
        Sleep(20);
    }
    return -1;
}

// This program's command line for the host's shell: the program by its
// host path where it has one, every argument quoted.
std::string SelfCommand() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring program = self;
    if (program.size() > 2 && (program[0] == L'Z' || program[0] == L'z') && program[1] == L':') {
        program = program.substr(2);
        for (auto& c : program)
            if (c == L'\\') c = L'/';
    }
    std::string line;
    auto quoted = [](const std::wstring& arg) {
        std::string out = "'";
        for (wchar_t c : arg) {
            if (c == L'\'') out += "'\\''";
            else out += static_cast<char>(c);  // test arguments are ASCII
        }
        return out + "'";
    };
    line = quoted(program);
    for (int i = 1; i < argc; ++i) line += " " + quoted(argv[i]);
    LocalFree(argv);
    return line;
}

// Wine's audio driver for this prefix, for the run that follows.
void UsePulseDriver() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Drivers", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    static const wchar_t kPulse[] = L"pulse";
    RegSetValueExW(key, L"Audio", 0, REG_SZ, reinterpret_cast<const BYTE*>(kPulse), sizeof kPulse);
    RegCloseKey(key);
}

// Runs before the test framework's main.
struct ServerFirst {
    ServerFirst() {
        if (!Env(kDirVariable).empty()) return;  // the child
        if (wcsstr(GetCommandLineW(), L"--gtest_list_tests") != nullptr) return;
        const std::string base =
            "/tmp/morvane-winmm-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
        const std::string dir = base + "/server";
        const std::string script = MORVANE_PULSE_SERVER_SCRIPT;
        UsePulseDriver();
        // One more sink, named outside ASCII, for the names' conversion.
        const std::string kitchen = "PULSE_SERVER='unix:" + dir +
                                    "/run/pulse/native' pactl load-module module-null-sink sink_name=kitchen "
                                    "sink_properties=device.description=$(printf '" +
                                    std::string(kNonAsciiSinkOctal) + "')";
        if (HostShell("mkdir -p '" + base + "' && '" + script + "' start '" + dir + "' > '" + base +
                          "/log' 2>&1 && " + kitchen + " >> '" + base + "/log' 2>&1",
                      base + "/started") != 0) {
            std::fprintf(stderr, "cannot start a sound server in %s (see %s/log)\n", dir.c_str(), base.c_str());
            std::exit(1);
        }
        // A Windows child would inherit this process's host environment, so
        // the child is started by the host with the server's in its own.
        const int code = HostShell("MORVANE_WINMM_SERVER_DIR='" + dir + "' PULSE_SERVER='unix:" + dir +
                                       "/run/pulse/native' PULSE_CLIENTCONFIG='" + dir + "/client.conf' wine " +
                                       SelfCommand(),
                                   base + "/ran", 24 * 3600 * 1000);
        if (HostShell("'" + script + "' stop '" + dir + "' > /dev/null 2>&1", base + "/stopped") == 0)
            HostShell("rm -rf '" + base + "'");
        ExitProcess(code < 0 ? 1u : static_cast<UINT>(code));
    }
};
const ServerFirst g_serverFirst;

}  // namespace

std::string ServerDir() { return Env(kDirVariable); }

}  // namespace morvane::winmmtest
