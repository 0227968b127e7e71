#pragma once
// The text of --help, the same on every platform.

namespace morvane {

// Prints the usage to standard output; `headless` adds the Linux program's
// --headless.
void PrintUsage(bool headless);

}  // namespace morvane
