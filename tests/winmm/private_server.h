#pragma once
// A private sound server for the tests of the Windows wave layer, reached by
// the platform's PulseAudio driver under Wine.
//
// The driver reads the server's address from the process's host
// environment, which a Windows program cannot change for itself nor for its
// Windows children. So the first run starts the server
// (scripts/pulse-server.sh, run as a host program), has the host's shell run
// the same command line again under `wine` with the server's address in its
// environment, stops the server and exits with that run's code. This happens
// before the test framework starts; listing the tests needs no server.

#include <string>

namespace morvane::winmmtest {

// Its devices are those of scripts/pulse-server.sh and one more playback
// device named outside ASCII ("Küche", in UTF-8).
inline constexpr char kNonAsciiSink[] = "K\xC3\xBC" "che";

// The host directory of the server this process runs against; empty when it
// runs against whatever the environment gives.
std::string ServerDir();

}  // namespace morvane::winmmtest
