#pragma once
// Standard output for the command-line answers of a windowed program.

namespace morvane {

// Keeps standard output and standard error where they already go (a pipe
// or a file, as under Wine from a shell); otherwise writes them to the
// console of the process that started the program, if it has one. Started
// from the desktop, nothing is shown.
void OpenConsoleOutput();

}  // namespace morvane
